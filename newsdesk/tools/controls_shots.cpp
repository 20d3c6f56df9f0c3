// Screenshots of the reader's controls for the documentation: the Options
// sheet (Sites/Categories and a schedule page), the filter editor, and the
// main window in its downloading state.
//   xvfb-run -s "-screen 0 1024x720x24" controls_shots DEMO_DIR OUT_DIR
// In a translated language (LANG=ru_RU.UTF-8) the files get its suffix.
#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>

#include "filter_editor.h"
#include "mainframe.h"
#include "newslist.h"
#include "options_sheet.h"
#ifdef ORVO_HAVE_SCHEDULE
#include <QListWidget>

#include "schedule_page.h"
#endif
#include "settings.h"
#include "translator.h"
#include "vault.h"

namespace {

bool Save(const QString& path, QWidget* window) {
  QTest::qWait(400);
  QRect area = window->frameGeometry();
  QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
  if (!shot.save(path)) {
    std::fprintf(stderr, "controls_shots: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("controls_shots: wrote %s (%dx%d)\n", qPrintable(path), shot.width(), shot.height());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "Usage: controls_shots DEMO_DIR OUT_DIR   (run under xvfb-run; make DEMO_DIR with "
                         "newsdesk_demo)\n");
    return 2;
  }
  setenv("ORVO_HOME", argv[1], 1);
  QApplication app(argc, argv);
  QString out = QString::fromLocal8Bit(argv[2]);
  orvo::ReaderTranslations translations;
  QString language = translations.Install(QLocale::system());
  const QString suffix = language.isEmpty() ? QString() : "-" + language;
  orvo::Settings settings = orvo::Settings::Shared();
  settings.WriteInt(orvo::kSystemSection, "StartTip", 0);
  settings.WriteInt(orvo::kSystemSection, "LHeight", 210);
  settings.WriteInt(orvo::kSystemSection, "LeftPos", 0);
  settings.WriteInt(orvo::kSystemSection, "TopPos", 0);
  settings.WriteInt(orvo::kSystemSection, "RightPos", 1024);
  settings.WriteInt(orvo::kSystemSection, "BottomPos", 720);
  settings.WriteText(orvo::kParserScheduleSection, "Schedule0", "1|08:00:00|");
  settings.WriteText(orvo::kParserScheduleSection, "Schedule1", "2|21:30:00|6|");
  settings.WriteText(orvo::kParserScheduleSection, "Schedule2", "4|09:00:00|18:00:00|01:30:00|");

  orvo::Vault vault;
  if (!vault.db.Init("")) {
    std::fprintf(stderr, "controls_shots: cannot open the demo database in %s\n", argv[1]);
    return 1;
  }
  orvo::CMainFrame frame(vault, false);
  frame.show();
  orvo::CNewsListView* list = frame.newsList();
  if (!QTest::qWaitFor([&] { return !list->busy() && list->model()->rowCount() > 0; }, 10000)) return 1;

  // Without Timekeeper on this bus the reader says so; not part of the picture.
  QTest::qWait(300);
  for (QWidget* w : QApplication::topLevelWidgets())
    if (qobject_cast<QMessageBox*>(w)) w->close();
  // The state a download shows: pressed button, stop text, relayed status.
  frame.SetDownloadRunning(true);
  frame.SetStatusText("Start download site: http://news.example.org/world/list.html");
  if (!Save(out + "/newsdesk-downloading" + suffix + ".png", &frame)) return 1;
  frame.SetDownloadRunning(false);

  {
    orvo::COptionsPropSheet sheet(vault, [] { return false; }, &frame);
    sheet.resize(900, 540);
    sheet.show();
    sheet.sitesPage()->sitesTree()->expandAll();
    if (!Save(out + "/newsdesk-options-sites" + suffix + ".png", &sheet)) return 1;
    for (int i = 0; i < sheet.tabs()->count(); ++i)
      if (sheet.tabs()->tabText(i) == "Parser Schedule") {
        sheet.tabs()->setCurrentIndex(i);
#ifdef ORVO_HAVE_SCHEDULE
        static_cast<orvo::CScheduleEditorPage*>(sheet.page(i))->list()->setCurrentRow(2);
#endif
      }
    if (!Save(out + "/newsdesk-options-schedule" + suffix + ".png", &sheet)) return 1;
    for (int i = 0; i < sheet.tabs()->count(); ++i)
      if (sheet.tabs()->tabText(i) == "Miscellaneous") sheet.tabs()->setCurrentIndex(i);
    sheet.resize(900, 760);
    if (!Save(out + "/newsdesk-options-misc" + suffix + ".png", &sheet)) return 1;
  }
  {
    orvo::CFilterEditor editor(vault, -1, &frame);
    editor.show();
    if (!Save(out + "/newsdesk-filter-editor" + suffix + ".png", &editor)) return 1;
  }
  return 0;
}
