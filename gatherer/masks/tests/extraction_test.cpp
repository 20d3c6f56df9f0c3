#include "gatherer/masks/extraction.h"

#include <gtest/gtest.h>

#include "gatherer/masks/text_util.h"

namespace orvo {
namespace {

const DateTime kNow = DateTime::Make(2026, 3, 15, 12, 0, 0);

struct Result {
  Mask mask;
  ExtractionState state;
};

Result Walk(const std::string& page_html, const std::string& mask_html, bool list,
           const std::string& url = "http://site.example/list.html") {
  Result r;
  MaskLoadResult loaded = LoadMaskHtml(mask_html, list ? MaskPhase::kList : MaskPhase::kNews);
  EXPECT_EQ(loaded.outcome, MaskLoadOutcome::kLoaded);
  r.mask = std::move(loaded.mask);
  HtmlDocument page = HtmlDocument::Parse(page_html, url);
  r.state.list_phase = list;
  r.state.BeginPage(kNow);
  WalkPage(page, r.mask, r.state);
  return r;
}

std::vector<std::string> Addresses(const ExtractionState& s) {
  std::vector<std::string> out;
  for (const auto& l : s.links) out.push_back(l.address);
  return out;
}

// A head that matches nothing on the page.
const std::string kHead = "<x-head url='http://site.example/list.html'></x-head>";

TEST(WalkPage, PositionTestAndOrd) {
  const std::string page =
      "<body><div>zero</div><div>one</div><p>p</p><div>two</div></body>";
  EXPECT_EQ(Walk(page, kHead + "<div role=text></div>", false).state.body, "zero");
  EXPECT_EQ(Walk(page, kHead + "<div ord=2 role=text></div>", false).state.body, "two");
  EXPECT_EQ(Walk(page, kHead + "<div ord=-1 role=text></div>", false).state.body, "zeroonetwo");
  EXPECT_EQ(Walk(page, kHead + "<div ord=x role=text></div>", false).state.body, "zero");
  EXPECT_EQ(Walk(page, kHead + "<div ord=7 role=text></div>", false).state.body, "");
}

// Many ord=-1 mask nodes over a big page multiply: the walk used to run on
// for minutes past the page's time-out. Past its deadline it stops.
TEST(WalkPage, StopsAtItsDeadline) {
  std::string mask_html = kHead;
  for (int i = 0; i < 200; ++i) mask_html += "<div ord=-1><p ord=-1></p></div>";
  MaskLoadResult loaded = LoadMaskHtml(mask_html, MaskPhase::kNews);
  ASSERT_EQ(loaded.outcome, MaskLoadOutcome::kLoaded);
  std::string page_html = "<html><body>";
  for (int i = 0; i < 200; ++i) page_html += "<div><p>t</p></div>";
  HtmlDocument page = HtmlDocument::Parse(page_html);
  ExtractionState state;
  state.BeginPage(kNow);
  EXPECT_FALSE(WalkPage(page, loaded.mask, state, std::chrono::steady_clock::now() - std::chrono::seconds(1)));
  state.BeginPage(kNow);
  EXPECT_TRUE(WalkPage(page, loaded.mask, state, std::chrono::steady_clock::now() + std::chrono::hours(1)));
  EXPECT_TRUE(WalkPage(page, loaded.mask, state));
}

TEST(WalkPage, ClassMustMatchIgnoringCase) {
  const std::string page =
      "<body><div class='Story Main'>a</div><div>b</div><div class=other>c</div></body>";
  EXPECT_EQ(Walk(page, kHead + "<div ord=-1 class='story main' role=text></div>", false).state.body,
            "a");
  // No class on the node: only elements without a class.
  EXPECT_EQ(Walk(page, kHead + "<div ord=-1 role=text></div>", false).state.body, "b");
}

TEST(WalkPage, DescendsOnlyThroughMatchedElements) {
  const std::string page =
      "<body><div class=wrap><h1>Title</h1><div class=txt><p>one</p><p>two</p></div>"
      "<p>outside</p></div></body>";
  Result r = Walk(page,
                 kHead + "<div class=wrap><h1 role=header></h1><div class=txt>"
                         "<p ord=-1 role=text paragraph=1></p></div></div>",
                 false);
  EXPECT_EQ(r.state.title, "Title");
  EXPECT_EQ(r.state.body, std::string(kParagraphBreak1) + "one" + kParagraphBreak1 + "two");
}

TEST(WalkPage, HeadTakesPartInMatching) {
  Result r = Walk("<body><div class=a>head text</div></body>",
                 "<div class=a url='http://x/' role=text></div>", false);
  EXPECT_EQ(r.state.body, "head text");
}

TEST(WalkPage, CommentsMatchCmnt) {
  Result r = Walk("<body><div><!-- marker --><p>after</p></div></body>",
                 kHead + "<div><CMNT textafter=1></CMNT></div>", false);
  EXPECT_EQ(r.state.body, "");  // the comment is followed by an element, not by text
  r = Walk("<body><div><!-- marker -->loose text<p>x</p></div></body>",
          kHead + "<div><cmnt textafter=2></cmnt></div>", false);
  EXPECT_EQ(r.state.title, "loose text");
}

TEST(WalkPage, RolesAreCaseSensitiveAndAuthorReplaces) {
  const std::string page = "<body><p>by A</p><p>by B</p></body>";
  EXPECT_EQ(Walk(page, kHead + "<p role=Text></p>", false).state.body, "");
  EXPECT_EQ(Walk(page, kHead + "<p role=author></p><p ord=1 role=author></p>", false).state.author,
            "by B");
}

TEST(WalkPage, AdjacentTextDestinations) {
  const std::string page =
      "<body><div>Headline: <b>Big news</b> by Someone<i>x</i>"
      "<span>caption here</span></div></body>";
  Result r = Walk(page,
                 kHead + "<div afterBegin=2><b role=header beforebegin=9 textafter=3></b>"
                         "<span role=imgtext></span></div>",
                 false);
  EXPECT_EQ(r.state.title, "Headline:Big news");
  EXPECT_EQ(r.state.author, "by Someone");
  ASSERT_EQ(r.state.images.size(), 1u);
  EXPECT_EQ(r.state.images[0].caption, "caption here");
  // Title already holds text: code 2 appends after one space.
  r = Walk(page, kHead + "<div><b role=header textafter=2></b></div>", false);
  EXPECT_EQ(r.state.title, "Big news by Someone");
}

TEST(WalkPage, ClassesMatchInAnyLetterCaseOfAnyScript) {
  const std::string page = "<body><p class='ärger'>A</p><p class='ȘTIRI'>B</p><p class=Other>C</p></body>";
  EXPECT_EQ(Walk(page, kHead + "<p class='ÄRGER' role=text></p>", false).state.body, "A");
  EXPECT_EQ(Walk(page, kHead + "<p ord=-1 class='știri' role=text></p>", false).state.body, "B");
  EXPECT_EQ(Walk(page, kHead + "<p ord=-1 class='OTHER' role=text></p>", false).state.body, "C");
}

TEST(WalkPage, AdjacentBodyTextKeepsItsSpacesAndLineFeeds) {
  Result r = Walk("<body><b>one <i>x</i> two</b></body>", kHead + "<b afterBegin=1 beforeEnd=1></b>", false);
  EXPECT_EQ(r.state.body, "one  two");
  r = Walk("<body><div><p>Wir sind satt!</p>\n  In einem Jahr<p>z</p></div></body>",
           kHead + "<div><p role=text textafter=1></p></div>", false);
  EXPECT_EQ(r.state.body, "Wir sind satt!\nIn einem Jahr");
  EXPECT_EQ(FinishNewsItem(r.state, "").body, "Wir sind satt!<br />In einem Jahr");
  // The plain fields still take it trimmed.
  r = Walk("<body><div> Big <b>x</b></div></body>", kHead + "<div afterBegin=2></div>", false);
  EXPECT_EQ(r.state.title, "Big");
}

TEST(WalkPage, TextAfterComesBeforeBeforeEnd) {
  Result r = Walk("<body><div>x<span>in</span>tail</div>after</body>",
                 kHead + "<div textafter=1 beforeEnd=1></div>", false);
  EXPECT_EQ(r.state.body, "aftertail");
}

TEST(WalkPage, LinksOnlyInTheListPhase) {
  const std::string page =
      "<body><ul><li><a href='/a.html'>A</a></li><li><a href='/b.html'>B</a></li>"
      "<li><a href='/a.html'>A again</a></li><li><a href='javascript:go()'>J</a></li>"
      "<li><a href='/clip.MP3?x=1'>M</a></li><li><a href='/play.html?f=song.mp3'>P</a></li>"
      "</ul></body>";
  std::string mask = kHead + "<ul><li ord=-1><a role=link></a></li></ul>";
  Result list = Walk(page, mask, true);
  EXPECT_EQ(Addresses(list.state),
            (std::vector<std::string>{"http://site.example/a.html", "http://site.example/b.html",
                                      "http://site.example/play.html?f=song.mp3"}));
  for (const auto& l : list.state.links) EXPECT_EQ(l.date.status, DateTime::Status::kNull);
  EXPECT_TRUE(Walk(page, mask, false).state.links.empty());
}

TEST(AcceptLink, Rules) {
  std::string out;
  EXPECT_TRUE(AcceptLink("http://r.example/go?u=http://news.example/1.html?id=3", out));
  EXPECT_EQ(out, "http://news.example/1.html?id=3");
  // "http://" at position 0..3 is the address itself.
  EXPECT_TRUE(AcceptLink("  http://news.example/x  ", out));
  EXPECT_EQ(out, "http://news.example/x");
  EXPECT_FALSE(AcceptLink("", out));
  EXPECT_FALSE(AcceptLink("   ", out));
  EXPECT_FALSE(AcceptLink("javascript:void(0)", out));
  EXPECT_FALSE(AcceptLink("JavaScript:void(0)", out));
  EXPECT_FALSE(AcceptLink("http://x.example/v.WMV", out));
  EXPECT_FALSE(AcceptLink("http://x.example/v.mpeg?dl=1", out));
  EXPECT_TRUE(AcceptLink("http://x.example/v.mpeg4", out));
  EXPECT_TRUE(AcceptLink("http://x.example/wav", out));  // no dot: judged by the host's end
  EXPECT_TRUE(AcceptLink("http://x.example/story.html?f=a.avi", out));
  EXPECT_EQ(out, "http://x.example/story.html?f=a.avi");
}

TEST(WalkPage, DatesFollowTheirLinks) {
  const std::string page =
      "<body><table><tr><td><a href='/1.html'>1</a></td><td>07.12.2003</td></tr>"
      "<tr><td><a href='/2.html'>2</a></td><td>nonsense</td></tr>"
      "<tr><td><a href='/3.html'>3</a></td><td>08.12.2003</td></tr></table></body>";
  std::string mask = kHead +
                     "<table><tbody><tr ord=-1><td><a role=link></a></td>"
                     "<td ord=1 role=date dateFrmt='D1*M1*Y1'></td></tr></tbody></table>";
  Result r = Walk(page, mask, true);
  ASSERT_EQ(r.state.links.size(), 3u);
  EXPECT_EQ(r.state.links[0].date, DateTime::Make(2003, 12, 7));
  // The failed parse leaves the current date: the second link gets the first's.
  EXPECT_EQ(r.state.links[1].date, DateTime::Make(2003, 12, 7));
  EXPECT_EQ(r.state.links[2].date, DateTime::Make(2003, 12, 8));
  // With a dateInURL on the head, a failed parse leaves the link's date null.
  Result u = Walk(page, "<x-head dateInURL='Y1*M1*D1'></x-head>" + mask.substr(kHead.size()), true);
  EXPECT_EQ(u.state.links[1].date.status, DateTime::Status::kNull);
  EXPECT_TRUE(u.state.links[2].date.valid());
}

TEST(WalkPage, DateFirstGivesTheDateToTheLinksAfterIt) {
  const std::string page =
      "<body><div><h3>07.12.2003</h3><a href='/1.html'>1</a><a href='/2.html'>2</a>"
      "<h3>08.12.2003</h3><a href='/3.html'>3</a></div></body>";
  std::string mask = kHead +
                     "<div><h3 ord=-1 role=date dateFrmt='D1*M1*Y1' dateFirst=1></h3>"
                     "<a ord=-1 role=link></a></div>";
  Result r = Walk(page, mask, true);
  ASSERT_EQ(r.state.links.size(), 3u);
  // The walk takes the page's children in order and tries every mask node on
  // each, so dates and links meet in page order.
  EXPECT_EQ(r.state.links[0].date, DateTime::Make(2003, 12, 7));
  EXPECT_EQ(r.state.links[1].date, DateTime::Make(2003, 12, 7));
  EXPECT_EQ(r.state.links[2].date, DateTime::Make(2003, 12, 8));
}

TEST(WalkPage, DateTextFromAdjacentText) {
  const std::string page =
      "<body><p><a href='/1.html'>one</a> 24.06.2011</p></body>";
  Result r = Walk(page, kHead + "<p><a role=link textafter=5 dateFrmt='D1*M1*Y1'></a></p>", true);
  ASSERT_EQ(r.state.links.size(), 1u);
  // textafter runs after the node's date capture, so the date waits for the
  // next node that is applied; none comes, and the text stays unparsed.
  EXPECT_EQ(r.state.links[0].date.status, DateTime::Status::kNull);
  EXPECT_EQ(r.state.date_text, "24.06.2011");
  r = Walk(page, kHead + "<p dateFrmt='D1*M1*Y1' beforeEnd=5><a role=link></a></p>", true);
  EXPECT_EQ(r.state.date_text, "24.06.2011");
}

TEST(ApplyLinkDates, DaysFilterAndAddressDates) {
  Result r = Walk(
      "<body><p><a href='/2026/03/14/a.html'>a</a><a href='/2026/01/02/b.html'>b</a>"
      "<a href='/undated.html'>c</a></p></body>",
      "<x-head dateInURL='Y1*M1*D1'></x-head><p><a ord=-1 role=link></a></p>", true);
  ASSERT_EQ(r.state.links.size(), 3u);
  ExtractionState zero = r.state;
  ApplyLinkDates(r.mask, 0, kNow, zero);
  EXPECT_EQ(zero.links.size(), 3u);
  EXPECT_EQ(zero.links[0].date.status, DateTime::Status::kNull);

  ApplyLinkDates(r.mask, 10, kNow, r.state);
  ASSERT_EQ(r.state.links.size(), 2u);
  EXPECT_EQ(r.state.links[0].date, DateTime::Make(2026, 3, 14));
  EXPECT_EQ(r.state.links[0].address, "http://site.example/2026/03/14/a.html");  // kept in place, whole
  EXPECT_EQ(r.state.links[1].address, "http://site.example/undated.html");
  EXPECT_EQ(r.state.links[1].date, kNow);
}

TEST(ApplyLinkDates, RoundsTheSpanToWholeDays) {
  Mask mask;
  ExtractionState s;
  s.links = {{"http://x/1", DateTime::Make(2026, 3, 13, 23, 0, 0)},   // 1.54 days -> 2
             {"http://x/2", DateTime::Make(2026, 3, 14, 1, 0, 0)},    // 1.46 days -> 1
             {"http://x/3", DateTime::Make(2026, 4, 1)}};            // in the future
  ApplyLinkDates(mask, 1, kNow, s);
  EXPECT_EQ(Addresses(s), (std::vector<std::string>{"http://x/2", "http://x/3"}));
}

TEST(BodyComposition, ParagraphBreaksAreNotDoubled) {
  ExtractionState s;
  AddParagraph(s, "1");
  EXPECT_EQ(s.body, kParagraphBreak1);
  AddParagraph(s, "1");
  EXPECT_EQ(s.body, kParagraphBreak1);
  AddParagraph(s, "2");
  AddParagraph(s, "2");
  EXPECT_EQ(s.body, std::string(kParagraphBreak1) + kParagraphBreak2);
  AddParagraph(s, "3");
  AddParagraph(s, "");
  EXPECT_EQ(s.body, std::string(kParagraphBreak1) + kParagraphBreak2);
}

TEST(BodyComposition, CaptionsAndImages) {
  ExtractionState s;
  AddCaption(s, "first caption");
  AddImage(s, "http://x/1.jpg");
  EXPECT_EQ(s.body, "[[{0}]]");
  ASSERT_EQ(s.images.size(), 1u);
  EXPECT_EQ(s.images[0].source, "http://x/1.jpg");
  EXPECT_EQ(s.images[0].caption, "first caption");
  AddImage(s, "http://x/2.jpg");
  AddCaption(s, "second");
  AddCaption(s, "orphan");
  EXPECT_EQ(s.body, "[[{0}]][[{1}]]");
  ASSERT_EQ(s.images.size(), 3u);
  EXPECT_EQ(s.images[1].caption, "second");
  EXPECT_EQ(s.images[2].source, "");
  EXPECT_EQ(s.images[2].caption, "orphan");
  AddImage(s, "http://x/3.jpg");
  EXPECT_EQ(s.body, "[[{0}]][[{1}]][[{2}]]");
  EXPECT_EQ(s.images[2].source, "http://x/3.jpg");
}

TEST(BodyComposition, WithoutImageLoadingAllPlaceholdersShareOneRecord) {
  ExtractionState s;
  s.load_images = false;
  AddImage(s, "http://x/1.jpg");
  AddImage(s, "http://x/2.jpg");
  EXPECT_EQ(s.body, "[[{0}]][[{0}]]");
  ASSERT_EQ(s.images.size(), 1u);
  EXPECT_EQ(s.images[0].source, "");
}

TEST(BodyComposition, ImageRoleUsesAbsoluteSource) {
  Result r = Walk("<body><div><img src='pics/a.jpg'><em>A picture</em></div></body>",
                 kHead + "<div><img role=img></img><em role=imgtext></em></div>", false,
                 "http://site.example/news/1.html");
  EXPECT_EQ(r.state.body, "[[{0}]]");
  ASSERT_EQ(r.state.images.size(), 1u);
  EXPECT_EQ(r.state.images[0].source, "http://site.example/news/pics/a.jpg");
  EXPECT_EQ(r.state.images[0].caption, "A picture");
}

TEST(FinishNewsItem, LineFeedsAndCuts) {
  ExtractionState s;
  s.body = std::string(kMaxBodyChars, 'x');
  EXPECT_EQ(FinishNewsItem(s, "").body.size(), kMaxBodyChars);
  s.body += "y";
  EXPECT_EQ(FinishNewsItem(s, "").body, std::string(kMaxBodyChars, 'x'));
  // A two-byte character straddling the limit goes whole or not at all.
  s.body = std::string(kMaxBodyChars - 1, 'x') + "\xC3\xA9\xC3\xA9";
  FinishedNewsItem item = FinishNewsItem(s, "");
  EXPECT_EQ(Utf8Length(item.body), kMaxBodyChars);
  EXPECT_TRUE(IsValidUtf8(item.body));
  EXPECT_EQ(item.body.substr(item.body.size() - 2), "\xC3\xA9");

  s.body = "a\nb\n";
  s.title = std::string(300, 't');
  s.author = "\xE4\xB8\xAD" + std::string(300, 'a');
  item = FinishNewsItem(s, std::string(300, 'u'));
  EXPECT_EQ(item.body, "a<br />b<br />");
  EXPECT_EQ(item.title.size(), kMaxFieldChars);
  EXPECT_EQ(Utf8Length(item.author), kMaxFieldChars);
  EXPECT_EQ(item.address.size(), kMaxFieldChars);
}

}  // namespace
}  // namespace orvo

namespace orvo {
namespace {

TEST(BodyComposition, PageTextIsEscapedInTheBodyOnly) {
  Result r = Walk("<body><h1>A &lt;b&gt; &amp; C</h1><p>x &lt;script&gt; y</p><p>z</p></body>",
                  kHead + "<h1 role=header></h1><p role=text></p><p ord=1 textafter=1></p>", false);
  EXPECT_EQ(r.state.title, "A <b> & C");
  EXPECT_EQ(r.state.body, "x &lt;script&gt; y");
}

// Many text nodes of a mask over a long page: the raw body stops growing once
// more text could not change the stored body, and what is stored is what the
// whole text would have given. The title beside it is still read.
TEST(FinishNewsItem, TheRawBodyStopsGrowingOnceTheStoredBodyIsFull) {
  std::string page = "<body><div>";
  std::string whole;
  const int kMaskNodes = 40, kParagraphs = 3000;
  for (int k = 0; k < kParagraphs; ++k) {
    const std::string text = "Paragraph " + std::to_string(k) + " \xd0\x96 &amp; more";
    page += "<p>" + text + "</p>";
    for (int n = 0; n < kMaskNodes; ++n) whole += text;  // as the body escapes "&"
  }
  page += "</div><h1>Late title</h1></body>";
  std::string mask = kHead + "<div>";
  for (int n = 0; n < kMaskNodes; ++n) mask += "<p ord=-1 role=text></p>";
  mask += "<img ord=-1 role=img></div><h1 role=header></h1>";
  Result r = Walk(page, mask, false);
  EXPECT_LT(r.state.body.size(), 4 * (kMaxBodyChars + 1) + 64);
  EXPECT_GT(whole.size(), 4 * r.state.body.size());
  ExtractionState all;
  all.body = whole;
  EXPECT_EQ(FinishNewsItem(r.state, "").body, FinishNewsItem(all, "").body);
  EXPECT_EQ(r.state.title, "Late title");
}

TEST(FinishNewsItem, CutDoesNotSplitMarkup) {
  ExtractionState s;
  s.body = std::string(kMaxBodyChars - 3, 'x') + "&amp;";
  EXPECT_EQ(FinishNewsItem(s, "").body, std::string(kMaxBodyChars - 3, 'x'));
  s.body = std::string(kMaxBodyChars - 5, 'x') + "[[{12}]]";
  EXPECT_EQ(FinishNewsItem(s, "").body, std::string(kMaxBodyChars - 5, 'x'));
  s.body = std::string(kMaxBodyChars - 2, 'x') + "\n";  // becomes "<br />"
  EXPECT_EQ(FinishNewsItem(s, "").body, std::string(kMaxBodyChars - 2, 'x'));
  s.body = std::string(kMaxBodyChars - 6, 'x') + "&amp;";  // fits whole
  EXPECT_EQ(FinishNewsItem(s, "").body, s.body);
}

}  // namespace
}  // namespace orvo

namespace orvo {
namespace {

TEST(WalkPage, DeepMaskAndPageDoNotExhaustTheStack) {
  std::string page, mask = kHead;
  for (int i = 0; i < 20000; ++i) {
    page += "<span>";
    mask += "<span>";
  }
  page += "deep";
  mask += "<b role=text></b>";
  Result r = Walk(page, mask, false);
  // The walk stops descending long before the text; what matters is that it
  // comes back at all.
  EXPECT_EQ(r.state.body, "");
  r = Walk("<body><span><span><b>near</b></span></span></body>",
           kHead + "<span><span><b role=text></b></span></span>", false);
  EXPECT_EQ(r.state.body, "near");
}

}  // namespace
}  // namespace orvo
