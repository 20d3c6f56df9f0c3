#include "render.h"

#include <QBuffer>
#include <QFont>
#include <QImage>
#include <QRegularExpression>
#include <QFontMetrics>
#include <QTextDocument>

#include <gtest/gtest.h>

#include "startup.h"

namespace orvo {
namespace {

TEST(Render, ImagesGoToTheirOwnPlaceholdersAndTheRestIsRemoved) {
  CNewsDetailItemStruct d;
  d.imageSources = {"/pics/a.png", "/pics/b.png"};
  d.imageCaptions = {"First & best", "Second"};
  d.imagePositions = {0, 1};
  std::string out = RemovePlaceholders(SubstituteImages("x[[{0}]]y[[{5}]]z[[{0}]]", d));
  // Placeholder 0 twice, placeholder 5 has no image and goes.
  EXPECT_EQ(out.find("[[{"), std::string::npos);
  // Pictures named outside the Images folder are looked for in it.
  size_t first = out.find("/Images/a.png\"");
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(out.find("/Images/a.png\"", first + 1), std::string::npos);
  EXPECT_EQ(out.find("b.png"), std::string::npos);
  EXPECT_NE(out.find("First &amp; best"), std::string::npos);
  EXPECT_EQ(out.substr(0, 1), "x");
  EXPECT_LT(out.find('y'), out.find('z'));

  d.imagePositions = {0, 5};  // numbers with a gap: each image still finds its place
  out = SubstituteImages("[[{5}]]", d);
  EXPECT_NE(out.find("b.png"), std::string::npos);
}

// The demo's "Record field for the harbour swim" as the gatherer stores it:
// bodies and captions are HTML text already, and read as written on screen
// and on paper (the print layout is this document).
TEST(Render, StoredTextReadsAsWritten) {
  CNewsDetailItemStruct d;
  d.imageSources = {"/pics/swim.png"};
  d.imageCaptions = {"Last year&#39;s swimmers at the start."};
  d.imagePositions = {0};
  const std::string body =
      "[[{0}]]<br />&#160;&#160;&#160;&#160;More than 400 swimmers have signed up for the New Year harbour swim, "
      "a record. R&amp;D &lt;b&gt; stays text.";
  QTextDocument doc;
  doc.setHtml(QString::fromStdString(
      BuildPage("Record field for the harbour swim", RemovePlaceholders(SubstituteImages(body, d)))));
  const std::string text = doc.toPlainText().toStdString();
  EXPECT_NE(text.find("Last year's swimmers at the start."), std::string::npos) << text;
  EXPECT_NE(text.find("R&D <b> stays text."), std::string::npos) << text;
  EXPECT_EQ(text.find("&#"), std::string::npos) << text;
  // A caption's bare markup characters are still text, never markup.
  d.imageCaptions = {"a <b>bold</b> & 'plain' caption"};
  doc.setHtml(QString::fromStdString(SubstituteImages("[[{0}]]", d)));
  EXPECT_NE(doc.toPlainText().toStdString().find("a <b>bold</b> & 'plain' caption"), std::string::npos);
}

// Pictures the database keeps come from the shown item's bytes, and the next
// item's first picture is its own, not the one the document loaded before.
TEST(Render, PicturesFromTheDatabaseShowTheShownItemsBytes) {
  class Page : public QTextDocument {
   public:
    explicit Page(const CNewsDetailItemStruct* shown) : shown_(shown) {}
    QVariant loadResource(int type, const QUrl& name) override { return LoadNewsResource(type, name, shown_); }
    const CNewsDetailItemStruct* shown_;
  };
  auto item = [](int width) {
    QImage image(width, 10, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    CNewsDetailItemStruct d;
    d.imageSources = {"/home/gatherer/.orvo/Images/1_0"};  // another machine's file
    d.imageCaptions = {""};
    d.imagePositions = {0};
    d.imageBytes = {png.toStdString()};
    return d;
  };
  CNewsDetailItemStruct shown = item(600);
  Page page(&shown);
  auto pictureWidth = [&] {
    page.setHtml(QString::fromStdString(SubstituteImages("a[[{0}]]b", shown)));
    page.setTextWidth(800);
    page.size();  // lays the page out, which loads its pictures
    const QRegularExpressionMatch src = QRegularExpression("src=\"([^\"]+)\"").match(page.toHtml());
    EXPECT_TRUE(src.hasMatch());
    return page.resource(QTextDocument::ImageResource, QUrl(src.captured(1))).value<QImage>().width();
  };
  EXPECT_EQ(pictureWidth(), 600);
  EXPECT_NE(SubstituteImages("[[{0}]]", shown).find("width=\"480\""), std::string::npos);  // shown narrower
  shown = item(300);
  EXPECT_EQ(pictureWidth(), 300);
  // An address of the scheme for another index, or with no item, is refused.
  EXPECT_EQ(LoadNewsResource(QTextDocument::ImageResource, QUrl("orvo-picture:5"), &shown).value<QImage>().width(), 1);
  EXPECT_EQ(LoadNewsResource(QTextDocument::ImageResource, QUrl("orvo-picture:0")).value<QImage>().width(), 1);
}

TEST(Render, RelativeImagePathsLiveInTheImagesFolder) {
  ::setenv("ORVO_HOME", "/opt/orvo", 1);
  EXPECT_EQ(ImageUrl("x y.png").toStdString(), "file:///opt/orvo/Images/x%20y.png");
  EXPECT_EQ(ImageUrl("/abs/p.png").toStdString(), "file:///opt/orvo/Images/p.png");
  EXPECT_EQ(ImageUrl("/opt/orvo/Images/1_0").toStdString(), "file:///opt/orvo/Images/1_0");
  ::unsetenv("ORVO_HOME");
}

TEST(Render, UnclosedPlaceholderDoesNotStall) {
  EXPECT_EQ(RemovePlaceholders("a[[{1}]]b[[{2"), "ab2");
  EXPECT_EQ(RemovePlaceholders("[[{[[{[[{"), "");
  EXPECT_EQ(RemovePlaceholders("[[{x}]"), "x}]");
  std::string big(100000, 'a');
  big += "[[{";
  EXPECT_EQ(RemovePlaceholders(big).size(), 100000u);
}

TEST(Render, TitleAndPage) {
  EXPECT_EQ(CleanTitle("It&#39;s\r\nhere\n"), "It's here ");
  EXPECT_EQ(BuildPage("A <b> & 'c'", "<p>x</p>"), "<span id=\"0\"><span><h4>A &lt;b&gt; &amp; 'c'</h4><p>x</p>");
}

TEST(Render, ShortenedTextFollowsTheCutRule) {
  QFont font;
  QFontMetrics fm(font);
  QString text = "abcdefghijklmnopqrstuvwxyz";
  int w = fm.horizontalAdvance(text);
  EXPECT_EQ(ShortenToFit(text, fm, w), text);
  QString cut = ShortenToFit(text, fm, w - 1);
  int n = static_cast<int>(text.size());
  int expectedCut = static_cast<int>(std::ceil(1 / (static_cast<double>(w) / n))) + 3;
  EXPECT_EQ(cut, text.left(n - expectedCut) + "...");
  EXPECT_EQ(ShortenToFit("ab", fm, 1), "");  // fewer characters than the cut
  EXPECT_EQ(ShortenToFit("", fm, 0), "");
}

TEST(Render, InformationBarLayoutForEachWidthRange) {
  auto r = InfoBarLayout(521);  // VW = (400 / 4) * 3 = 300
  EXPECT_EQ(r[0], QRect(5, 0, 41, 15));     // "Title:"
  EXPECT_EQ(r[3], QRect(51, 0, 300, 15));   // title
  EXPECT_EQ(r[7], QRect(356, 17, 55, 15));  // "Category:"
  EXPECT_EQ(r[11], QRect(416, 36, 100, 15));  // published: W - VW - 121
  r = InfoBarLayout(65);  // LW = 20
  EXPECT_EQ(r[0].width(), 20);
  EXPECT_EQ(r[3].width(), 0);
  EXPECT_EQ(r[6].x(), 35);
  EXPECT_EQ(r[9].x(), 60);
  r = InfoBarLayout(10);
  EXPECT_EQ(r[0].width(), 0);
  EXPECT_EQ(r[6].x(), 15);
  EXPECT_EQ(r[9].x(), 20);
  r = InfoBarLayout(521, 61, 55);  // a wider first label takes room from the values
  EXPECT_EQ(r[3].x(), 71);
  EXPECT_EQ(r[3].width(), 285);
  EXPECT_EQ(r[9].x() + r[9].width(), 516);
}

TEST(Startup, RegistrationSwitchIsTheRestOfTheLine) {
  EXPECT_EQ(FindRegistrationSwitch("-RegServer"), RegistrationSwitch::kRegister);
  EXPECT_EQ(FindRegistrationSwitch("/regserver"), RegistrationSwitch::kRegister);
  EXPECT_EQ(FindRegistrationSwitch("min -UNREGSERVER"), RegistrationSwitch::kUnregister);
  EXPECT_EQ(FindRegistrationSwitch("RegServer"), RegistrationSwitch::kNone);
  EXPECT_EQ(FindRegistrationSwitch("-RegServer now"), RegistrationSwitch::kNone);
  EXPECT_EQ(FindRegistrationSwitch(""), RegistrationSwitch::kNone);
}

TEST(Startup, StartWordsAreFoundInsideLongerWords) {
  StartWords w = ScanStartWords({"MINimized"});
  EXPECT_TRUE(w.minimized);
  EXPECT_FALSE(w.closeAll);
  w = ScanStartWords({"/CloseAll"});
  EXPECT_TRUE(w.closeAll);
  EXPECT_FALSE(ScanStartWords({}).minimized);
}

TEST(Startup, DesktopEntryQuotesItsCommand) {
  std::string text = DesktopEntryText("/opt/my \"news\"/Newsdesk", "/home/u/100%", "/i.svg");
  EXPECT_NE(text.find("Exec=env \"ORVO_HOME=/home/u/100%%\" \"/opt/my \\\"news\\\"/Newsdesk\"\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("Icon=/i.svg\n"), std::string::npos);
  EXPECT_NE(DesktopEntryText("/p/Newsdesk", "", "x").find("Exec=\"/p/Newsdesk\"\n"), std::string::npos);
}

}  // namespace
}  // namespace orvo
