// The reader's translations: which language a user gets, that the Russian
// one is built in and complete, and that the window shows it everywhere.
#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <map>

#include "commands.h"
#include "filter_editor.h"
#include "filters_dialog.h"
#include "newslist.h"
#include "options_sheet.h"
#ifdef ORVO_HAVE_SCHEDULE
#include "schedule_page.h"
#endif
#include "tipdialog.h"
#include "translator.h"
#include "window_fixture.h"

namespace orvo::testing {
namespace {

TEST(ReaderLanguage, FollowsTheUsersFirstLanguageThatIsTranslated) {
  const QStringList ru = {"ru"};
  EXPECT_EQ(ChooseReaderLanguage({"ru-RU", "ru"}, ru), "ru");
  // English first: the source texts, even when Russian follows.
  EXPECT_EQ(ChooseReaderLanguage({"en-US", "ru-RU"}, ru), "");
  EXPECT_EQ(ChooseReaderLanguage({"C"}, ru), "");
  // A language without a translation is passed over for the next one.
  EXPECT_EQ(ChooseReaderLanguage({"de-DE", "ru-RU"}, ru), "ru");
  EXPECT_EQ(ChooseReaderLanguage({"de-DE", "fr-FR"}, ru), "");
  EXPECT_EQ(ChooseReaderLanguage({}, ru), "");
  // A regional translation wins over the language's own.
  EXPECT_EQ(ChooseReaderLanguage({"pt-BR"}, {"pt", "pt_BR"}), "pt_BR");
  EXPECT_EQ(ChooseReaderLanguage({"pt-PT"}, {"pt", "pt_BR"}), "pt");
}

// --- The .ts files ---------------------------------------------------------

struct Message {
  QString context, source, comment;
  QStringList translations;  // one, or one per plural form
  QString type;              // "unfinished", "obsolete", "vanished" or empty
  bool numerus = false;
};

std::vector<Message> ReadTs(const QString& path, QString* error) {
  std::vector<Message> messages;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    *error = "cannot open " + path;
    return messages;
  }
  QXmlStreamReader xml(&file);
  QString context;
  Message m;
  while (!xml.atEnd()) {
    xml.readNext();
    if (xml.isEndElement() && xml.name() == u"message") messages.push_back(m);
    if (!xml.isStartElement()) continue;
    const QStringView name = xml.name();
    if (name == u"name") {
      context = xml.readElementText();
    } else if (name == u"message") {
      m = Message{context, {}, {}, {}, {}, xml.attributes().value("numerus") == u"yes"};
    } else if (name == u"source") {
      m.source = xml.readElementText();
    } else if (name == u"comment") {
      m.comment = xml.readElementText();
    } else if (name == u"translation") {
      m.type = xml.attributes().value("type").toString();
      // A plural message has one form per number class inside.
      if (!m.numerus) m.translations << xml.readElementText();
    } else if (name == u"numerusform") {
      m.translations << xml.readElementText();
    }
  }
  if (xml.hasError()) *error = path + ": " + xml.errorString();
  return messages;
}

// "%1", "%L2" and "%n", sorted: what arg() and the plural forms fill in.
QStringList Placeholders(const QString& text) {
  QStringList found;
  static const QRegularExpression re(R"(%L?(\d+|n))");
  for (auto it = re.globalMatch(text); it.hasNext();) found << it.next().captured(1);
  found.sort();
  return found;
}

// Accelerator marks; "&&" is a literal ampersand.
int Accelerators(const QString& text) {
  int count = 0;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] != '&') continue;
    if (i + 1 < text.size() && text[i + 1] == '&')
      ++i;
    else
      ++count;
  }
  return count;
}

std::string Where(const Message& m) { return (m.context + " / \"" + m.source + "\"").toStdString(); }

QStringList TsFiles() {
  QDir dir(NEWSDESK_TRANSLATIONS_DIR);
  QStringList files;
  for (const QString& f : dir.entryList({"newsdesk_*.ts"}, QDir::Files)) files << dir.filePath(f);
  return files;
}

TEST(ReaderTranslationFiles, EveryMessageIsTranslatedWithItsPlaceholdersAndAccelerators) {
  const QStringList files = TsFiles();
  ASSERT_FALSE(files.isEmpty()) << "no translations in " << NEWSDESK_TRANSLATIONS_DIR;
  for (const QString& path : files) {
    SCOPED_TRACE(path.toStdString());
    QString error;
    std::vector<Message> messages = ReadTs(path, &error);
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_GT(messages.size(), 100u);
    std::map<std::pair<QString, QString>, int> seen;
    for (const Message& m : messages) {
      // An entry the sources no longer have is removed, not kept as obsolete.
      EXPECT_TRUE(m.type.isEmpty()) << Where(m) << " is " << m.type.toStdString();
      const std::pair<QString, QString> key(m.context, m.source + '\x1f' + m.comment);
      EXPECT_EQ(++seen[key], 1) << Where(m) << " twice";
      ASSERT_FALSE(m.translations.isEmpty()) << Where(m);
      for (const QString& t : m.translations) {
        EXPECT_FALSE(t.trimmed().isEmpty()) << Where(m) << " has an empty translation";
        EXPECT_EQ(Placeholders(t), Placeholders(m.source)) << Where(m) << " -> \"" << t.toStdString() << "\"";
        EXPECT_EQ(Accelerators(t), Accelerators(m.source)) << Where(m) << " -> \"" << t.toStdString() << "\"";
        // A text that ends a line or a sentence keeps doing so.
        EXPECT_EQ(t.endsWith('\n'), m.source.endsWith('\n')) << Where(m);
      }
    }
  }
}

TEST(ReaderTranslationFiles, TheBuiltTranslationAnswersEveryMessageOfTheFile) {
  // The compiled file in the program must be the one in the tree, with
  // nothing left out (an unfinished entry is not compiled).
  QString error;
  std::vector<Message> messages = ReadTs(QString(NEWSDESK_TRANSLATIONS_DIR) + "/newsdesk_ru.ts", &error);
  ASSERT_TRUE(error.isEmpty()) << error.toStdString();
  ReaderTranslations russian;
  ASSERT_EQ(russian.Install(QLocale(QLocale::Russian, QLocale::Russia)), "ru");
  for (const Message& m : messages) {
    QByteArray context = m.context.toUtf8(), source = m.source.toUtf8(), comment = m.comment.toUtf8();
    const char* disambiguation = m.comment.isEmpty() ? nullptr : comment.constData();
    if (m.numerus) {
      QString one = m.translations.value(0);
      EXPECT_EQ(QCoreApplication::translate(context, source, disambiguation, 1), one.replace("%n", "1")) << Where(m);
    } else {
      EXPECT_EQ(QCoreApplication::translate(context, source, disambiguation), m.translations.value(0)) << Where(m);
    }
  }
  russian.Remove();
  EXPECT_EQ(QCoreApplication::translate("orvo::CMainFrame", "&File"), "&File");
  EXPECT_EQ(ReaderLanguages(), QStringList{"ru"});
}

// --- The window in Russian -------------------------------------------------

bool HasLatinWord(const QString& text) {
  static const QRegularExpression latin("[A-Za-z]{2,}");
  return text.contains(latin);
}
bool HasCyrillic(const QString& text) {
  for (QChar c : text)
    if (c.script() == QChar::Script_Cyrillic) return true;
  return false;
}

// Every text of `root` a user reads that is still English: a text that
// names no product and has no Russian word in it.
std::string EnglishTexts(QWidget* root) {
  QStringList texts;
  auto add = [&](const QString& what, QString text) {
    static const QRegularExpression tags("<[^>]*>");
    text.remove(tags);
    // Names that are the same in every language ("OK" is Qt's Russian too).
    static const QRegularExpression names(
        R"(\b(ORVO|Newsdesk|Timekeeper|Pocket ?PC|Microsoft Reader|Ctrl|Enter|lit|epub|Qt|OK)\b)");
    text.remove(names);
    if (HasLatinWord(text) && !HasCyrillic(text)) texts << what + ": " + text;
  };
  add("window title", root->windowTitle());
  for (QAction* a : root->findChildren<QAction*>()) {
    if (a->isSeparator()) continue;
    add("action", a->text());
    add("tooltip", a->toolTip());
  }
  for (QMenu* m : root->findChildren<QMenu*>()) add("menu", m->title());
  for (QLabel* l : root->findChildren<QLabel*>()) add("label", l->text());
  for (QAbstractButton* b : root->findChildren<QAbstractButton*>()) add("button", b->text());
  for (QGroupBox* g : root->findChildren<QGroupBox*>()) add("group", g->title());
  for (QTabWidget* t : root->findChildren<QTabWidget*>())
    for (int i = 0; i < t->count(); ++i) add("tab", t->tabText(i));
  for (QComboBox* c : root->findChildren<QComboBox*>())
    if (!c->isEditable() && c->objectName() != "FilterCombo")  // filter names are the user's own
      for (int i = 0; i < c->count(); ++i) add("list item", c->itemText(i));
  for (QWidget* w : root->findChildren<QWidget*>()) add("accessible name", w->accessibleName());
  texts.removeDuplicates();
  return texts.join("\n").toStdString();
}

class RussianReaderTest : public ReaderTest {
 protected:
  void SetUp() override {
    ReaderTest::SetUp();
    ASSERT_EQ(translations_.Install(QLocale(QLocale::Russian, QLocale::Russia)), "ru");
  }
  void TearDown() override {
    ReaderTest::TearDown();
    translations_.Remove();
  }
  ReaderTranslations translations_;
};

TEST_F(RussianReaderTest, TheWindowItsMenusAndItsDialogsAreRussian) {
  AddNews(3);
  OpenFrame(true);
  EXPECT_EQ(frame_->statusText(), QString::fromUtf8("Фильтр применён."));
  EXPECT_EQ(frame_->filterCombo()->itemText(0), QString::fromUtf8("без фильтра"));
  QStringList menus;
  for (QAction* a : frame_->menuBar()->actions()) menus << a->text();
  EXPECT_EQ(menus.join('|').toStdString(), "&Файл|&Правка|&Новости|П&оиск|&Вид|&Сервис|&Справка");
  EXPECT_EQ(frame_->action(Cmd::MarkRead)->text(), QString::fromUtf8("Отметить как &прочитанное"));
  NewsListModel* model = frame_->newsList()->model();
  EXPECT_EQ(model->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), QString::fromUtf8("Дата/время"));

  // The toggles change their texts while the window runs.
  frame_->SetDownloadRunning(true);
  frame_->SetSearchInFound(true);
  EXPECT_EQ(frame_->action(Cmd::Download)->text(), QString::fromUtf8("Остановить загрузку"));
  EXPECT_EQ(frame_->action(Cmd::SearchInFound)->text(), QString::fromUtf8("Выключить «Поиск в найденном»"));
  EXPECT_EQ(EnglishTexts(frame_.get()), "");
  frame_->SetDownloadRunning(false);
  frame_->SetSearchInFound(false);

  // The text pane's Find dialog (shown by the window, so a child of it).
  frame_->action(Cmd::FindInText)->trigger();
  EXPECT_EQ(EnglishTexts(frame_.get()), "");

  COptionsPropSheet sheet(
      *vault_, [] { return false; }, frame_.get());
  for (int i = 0; i < sheet.tabs()->count(); ++i) sheet.tabs()->setCurrentIndex(i);
  EXPECT_EQ(sheet.windowTitle(), QString::fromUtf8("Настройки"));
  EXPECT_EQ(EnglishTexts(&sheet), "");

  CFiltersDialog filters(*vault_, -1, frame_.get());
  EXPECT_EQ(EnglishTexts(&filters), "");
  CFilterEditor editor(*vault_, -1, frame_.get());
  EXPECT_EQ(EnglishTexts(&editor), "");
  CTipDialog tip(frame_.get());
  EXPECT_EQ(EnglishTexts(&tip), "");
  for (int i = 0; i < CTipDialog::kTipCount; ++i) EXPECT_TRUE(HasCyrillic(CTipDialog::Tip(i))) << i;
}

#ifdef ORVO_HAVE_SCHEDULE
TEST_F(RussianReaderTest, ScheduleTextsNameDaysAndMonthsInRussian) {
  QDate today(2026, 12, 8);
  ScheduleEntry once = ParseScheduleEntry("Schedule0", "0|2026-12-09 09:05:00|");
  EXPECT_EQ(CScheduleEditorPage::ListText(once, today).toStdString(), "Запуск среда, 9 декабря 2026 в 09:05:00");
  EXPECT_EQ(CScheduleEditorPage::ListText(ParseScheduleEntry("S", "2|21:30:00|6|"), today).toStdString(),
            "Запуск раз в неделю в 21:30:00, день недели: Пятница");
  // Back in English, the English names again.
  translations_.Remove();
  EXPECT_EQ(CScheduleEditorPage::ListText(once, today), "Start Wednesday, December 09, 2026 at 09:05:00");
}
#endif

TEST_F(RussianReaderTest, QtsOwnButtonsAreRussianWhenQtShipsTheirTexts) {
  if (!translations_.hasQtTexts()) GTEST_SKIP() << "Qt's Russian texts (qt6-translations-l10n) are not installed";
  QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text(), QString::fromUtf8("Отмена"));
}

}  // namespace
}  // namespace orvo::testing
