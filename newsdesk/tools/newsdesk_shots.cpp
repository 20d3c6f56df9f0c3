// Takes the reader's screenshots for the documentation: the real main window
// over a demo folder, with a news item with pictures selected.
//   xvfb-run -s "-screen 0 1024x720x24" newsdesk_shots DEMO_DIR OUT_DIR
// In a translated language (LANG=ru_RU.UTF-8) the files get its suffix
// ("newsdesk-main-ru.png").
#include <QApplication>
#include <QItemSelectionModel>
#include <QScreen>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include "mainframe.h"
#include "newsdetail.h"
#include "newslist.h"
#include "settings.h"
#include "tipdialog.h"
#include "translator.h"
#include "vault.h"

namespace {

bool Save(const QString& path, const QRect& area) {
  QScreen* screen = QGuiApplication::primaryScreen();
  QPixmap shot = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
  if (!shot.save(path)) {
    std::fprintf(stderr, "newsdesk_shots: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("newsdesk_shots: wrote %s (%dx%d)\n", qPrintable(path), shot.width(), shot.height());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "Usage: newsdesk_shots DEMO_DIR OUT_DIR   (run under xvfb-run; make DEMO_DIR with newsdesk_demo)\n");
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

  orvo::Vault vault;
  if (!vault.db.Init("")) {
    std::fprintf(stderr, "newsdesk_shots: cannot open the demo database in %s\n", argv[1]);
    return 1;
  }
  orvo::CMainFrame frame(vault, false);
  frame.show();
  orvo::CNewsListView* list = frame.newsList();
  if (!QTest::qWaitFor([&] { return !list->busy() && list->model()->rowCount() > 0; }, 10000)) return 1;
  int row = 0;
  for (int i = 0; i < list->model()->rowCount(); ++i)
    if (list->model()->row(i).title.startsWith("New tidal bridge")) row = i;
  bool shown = false;
  QObject::connect(frame.newsDetail(), &orvo::CNewsDetailView::itemShown, [&] { shown = true; });
  list->table()->selectionModel()->setCurrentIndex(list->model()->index(row, 0),
                                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  list->table()->setFocus();
  if (!QTest::qWaitFor([&] { return shown; }, 10000)) return 1;
  QTest::qWait(500);
  QRect area = frame.frameGeometry();
  if (!Save(out + "/newsdesk-main" + suffix + ".png", area)) return 1;

  orvo::CTipDialog tip(&frame);
  tip.show();
  QTest::qWait(500);
  if (!Save(out + "/newsdesk-tip" + suffix + ".png", area)) return 1;
  return 0;
}
