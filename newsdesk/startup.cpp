#include "startup.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QRegularExpression>
#include <QSplashScreen>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

#include "database.h"
#include "mainframe.h"
#include "orvo_version.h"
#include "pg.h"
#include "platform.h"
#include "render.h"
#include "store/search_index.h"
#include "settings.h"
#include "text.h"
#include "translator.h"
#include "vault.h"

namespace orvo {

namespace fs = std::filesystem;

RegistrationSwitch FindRegistrationSwitch(const std::string& commandLine) {
  for (size_t i = 0; i < commandLine.size(); ++i) {
    if (commandLine[i] != '-' && commandLine[i] != '/') continue;
    std::string_view rest = std::string_view(commandLine).substr(i + 1);
    if (EqualsNoCase(rest, "UnregServer")) return RegistrationSwitch::kUnregister;
    if (EqualsNoCase(rest, "RegServer")) return RegistrationSwitch::kRegister;
  }
  return RegistrationSwitch::kNone;
}

StartWords ScanStartWords(const QStringList& args) {
  QString text = args.join(' ').toLower();
  StartWords w;
  w.closeAll = text.contains("closeall");
  w.minimized = text.contains("min");
  return w;
}

namespace {

// Quoting of one Exec argument of a desktop entry.
std::string QuoteExec(const std::string& arg) {
  std::string out = "\"";
  for (char c : arg) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    if (c == '%') out += '%';
    out += c;
  }
  return out + "\"";
}

std::string ProgramPath(const char* argv0) {
  std::string self = ExecutablePath();
  if (!self.empty()) return self;
  std::error_code ec;
  return fs::absolute(argv0, ec).string();
}

const char* const kUsage =
    "Usage: Newsdesk [min] [closeall] [-RegServer | -UnregServer]\n"
    "\n"
    "The ORVO news reader. One instance runs per user: a second start brings\n"
    "the running window to the front.\n"
    "\n"
    "  min           start in the notification area, without the window\n"
    "  closeall      make the running instance quit, then end\n"
    "  -RegServer    add Newsdesk to the desktop's applications menu\n"
    "  -UnregServer  remove it from there again\n"
    "  --help        show this text\n"
    "  --version     print the version\n"
    "\n"
    "Files: ORVO.ini and the news database named by $ORVO_DATABASE, else by its\n"
    "[Database] Url (a postgresql:// server) or its PathDB key, in $ORVO_HOME when\n"
    "that is set, else in the program folder, or for an installed copy in\n"
    "$XDG_CONFIG_HOME/orvo/ (settings) and $XDG_DATA_HOME/orvo/ (news).\n";

}  // namespace

std::unique_ptr<QMessageBox> DatabaseFailureBox(const std::string& location, const std::string& why) {
  auto box = std::make_unique<QMessageBox>(QMessageBox::Warning, "Newsdesk",
                                           QCoreApplication::translate("Newsdesk", "Can not open DB"), QMessageBox::Ok);
  if (pg::IsUrl(location)) {
    // The reason names the server (its address without a password) and
    // what libpq found, on lines of its own.
    QString reason = QString::fromStdString(why.empty() ? pg::RedactUrl(location) : why).trimmed();
    reason.replace(QRegularExpression("\\s*\\n\\s*"), "\n");
    box->setInformativeText(
        QCoreApplication::translate("Newsdesk",
                                    "The news database on a PostgreSQL server could not be opened: %1\n\nStart the "
                                    "server, or correct its address in [Database] Url of %2 (ORVO_DATABASE, when "
                                    "set, comes first; \"orvo init --database\" makes a new database there), then "
                                    "start Newsdesk again.")
            .arg(reason, QString::fromStdString(SettingsPath())));
  } else {
    box->setInformativeText(QCoreApplication::translate("Newsdesk",
                                                        "The news database named by PathDB in %1 could not be "
                                                        "opened. Set PathDB to an existing database (\"orvo init\" "
                                                        "creates one) and start Newsdesk again.")
                                .arg(QString::fromStdString(SettingsPath())));
  }
  return box;
}

std::string DesktopEntryPath() { return XdgDataHome() + "/applications/org.orvo.Newsdesk.desktop"; }
std::string DesktopIconPath() { return XdgDataHome() + "/icons/hicolor/scalable/apps/org.orvo.Newsdesk.svg"; }

std::string DesktopEntryText(const std::string& program, const std::string& orvoHome, const std::string& icon) {
  std::string exec = QuoteExec(program);
  if (!orvoHome.empty()) exec = "env " + QuoteExec("ORVO_HOME=" + orvoHome) + " " + exec;
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=ORVO Newsdesk\n"
         "GenericName=News reader\n"
         "GenericName[ru]=Программа чтения новостей\n"
         "Comment=Read the news ORVO has collected\n"
         "Comment[ru]=Чтение новостей, собранных ORVO\n"
         "Exec=" + exec + "\n"
         "Icon=" + icon + "\n"
         "Terminal=false\n"
         "Categories=Network;News;Qt;\n"
         "StartupWMClass=Newsdesk\n";
}

int RegisterDesktopEntry(const std::string& program) {
  std::string entry = DesktopEntryPath();
  std::string icon = DesktopIconPath();
  std::error_code ec;
  fs::create_directories(fs::path(entry).parent_path(), ec);
  fs::create_directories(fs::path(icon).parent_path(), ec);
  QFile source(":/icons/orvo.svg");
  QByteArray svg;
  if (source.open(QIODevice::ReadOnly)) svg = source.readAll();
  std::string error;
  if (!WriteFileAtomically(icon, std::string_view(svg.constData(), static_cast<size_t>(svg.size())), &error)) {
    std::cerr << "Newsdesk: " << error << ". Check that the folder is writable and try again.\n";
    return 1;
  }
  const char* home = std::getenv("ORVO_HOME");
  if (!WriteFileAtomically(entry, DesktopEntryText(program, home ? home : "", icon), &error)) {
    std::cerr << "Newsdesk: " << error << ". Check that the folder is writable and try again.\n";
    return 1;
  }
  std::cout << "Newsdesk: registered " << entry << "\n";
  return 0;
}

int UnregisterDesktopEntry() {
  std::error_code ec;
  bool entry = fs::remove(DesktopEntryPath(), ec);
  if (ec) {
    std::cerr << "Newsdesk: cannot remove " << DesktopEntryPath() << ": " << ec.message() << "\n";
    return 1;
  }
  fs::remove(DesktopIconPath(), ec);
  std::cout << (entry ? "Newsdesk: removed " + DesktopEntryPath() : std::string("Newsdesk: was not registered"))
            << "\n";
  return 0;
}

SingleInstance::Claim SingleInstance::TryClaim(QString* error) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    *error = bus.lastError().message();
    return Claim::kNoBus;
  }
  QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus.interface()->registerService(
      kNewsdeskBusName, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
  if (!reply.isValid()) {
    *error = reply.error().message();
    return Claim::kNoBus;
  }
  if (reply.value() != QDBusConnectionInterface::ServiceRegistered) return Claim::kSecond;
  bus.registerObject("/", this, QDBusConnection::ExportScriptableSlots);
  return Claim::kFirst;
}

bool SingleInstance::NotifyFirst(bool closeAll, QString* error) {
  QDBusInterface first(kNewsdeskBusName, "/", kNewsdeskBusName, QDBusConnection::sessionBus());
  first.setTimeout(10000);
  QDBusMessage reply = first.call(closeAll ? "CloseAll" : "Activate");
  if (reply.type() == QDBusMessage::ErrorMessage) {
    *error = reply.errorMessage();
    return false;
  }
  return true;
}

// Queued, so that the caller gets its answer before the window moves or quits.
void SingleInstance::Activate() { QTimer::singleShot(0, this, &SingleInstance::activateRequested); }
void SingleInstance::CloseAll() { QTimer::singleShot(0, this, &SingleInstance::closeAllRequested); }

QPixmap SplashPixmap() {
  const QString title = QStringLiteral("ORVO Newsdesk");
  const QString line = QCoreApplication::translate("Newsdesk", "Opening the news...");
  QFont big = QGuiApplication::font();
  big.setPointSize(20);
  big.setBold(true);
  QFont small = QGuiApplication::font();
  small.setPointSize(10);
  // As wide as the name and the line need, whatever the desktop's font.
  const int textWidth =
      std::max(QFontMetrics(big).horizontalAdvance(title), QFontMetrics(small).horizontalAdvance(line)) + 8;
  QPixmap pixmap(std::max(360, 120 + textWidth + 24), 160);
  pixmap.fill(QColor(0x1f, 0x3a, 0x5f));
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  QIcon(":/icons/orvo.svg").paint(&p, QRect(24, 40, 80, 80));
  p.setPen(Qt::white);
  p.setFont(big);
  p.drawText(QRect(120, 40, textWidth, 40), Qt::AlignLeft | Qt::AlignVCenter, title);
  p.setFont(small);
  p.drawText(QRect(120, 84, textWidth, 30), Qt::AlignLeft | Qt::AlignVCenter, line);
  return pixmap;
}

void ShowMainWindow(CMainFrame& frame, QSplashScreen* splash, bool minimized, bool tray) {
  if (!minimized) frame.show();
  else if (!tray) frame.showMinimized();  // no notification area to live in
  if (splash) splash->close();
}

int RunNewsdesk(int argc, char** argv) {
  EnsureResources();
  std::string commandLine;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--version") {
      std::cout << "Newsdesk " << kVersion << "\n";
      return 0;
    }
    commandLine += (i > 1 ? " " : "") + arg;
  }
  switch (FindRegistrationSwitch(commandLine)) {
    case RegistrationSwitch::kRegister: {
      // The icon comes from the program's resources, which need no display.
      QCoreApplication core(argc, argv);
      return RegisterDesktopEntry(ProgramPath(argv[0]));
    }
    case RegistrationSwitch::kUnregister:
      return UnregisterDesktopEntry();
    case RegistrationSwitch::kNone:
      break;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName("Newsdesk");
  QApplication::setOrganizationName("ORVO");
  QApplication::setApplicationVersion(kVersion);
  // Wayland matches the window to the installed desktop entry by this name.
  QGuiApplication::setDesktopFileName("org.orvo.Newsdesk");
  QApplication::setWindowIcon(QIcon(":/icons/orvo.svg"));
  // The texts in the desktop's language (LANG and the like); English when the
  // reader has no translation for it.
  ReaderTranslations translations;
  translations.Install(QLocale::system());
  // The window closes into the notification area; the program ends by Exit.
  QApplication::setQuitOnLastWindowClosed(false);
  StartWords words = ScanStartWords(app.arguments().mid(1));

  SingleInstance instance;
  QString busError;
  switch (instance.TryClaim(&busError)) {
    case SingleInstance::Claim::kSecond: {
      QString error;
      if (!SingleInstance::NotifyFirst(words.closeAll, &error)) {
        std::cerr << "Newsdesk: another instance owns " << kNewsdeskBusName
                  << " but does not answer: " << error.toStdString()
                  << "\nEnd it (Exit in its tray menu, or kill it) and start Newsdesk again.\n";
        return 1;
      }
      return 0;
    }
    case SingleInstance::Claim::kNoBus:
      if (words.closeAll) {
        std::cerr << "Newsdesk: no session bus, so no running instance can be reached.\n";
        return 0;
      }
      std::cerr << "Newsdesk: no session bus (" << busError.toStdString()
                << "); running without the one-instance check.\n";
      break;
    case SingleInstance::Claim::kFirst:
      if (words.closeAll) return 0;  // nothing runs that could be closed
      break;
  }

  std::unique_ptr<QSplashScreen> splash;
  if (!words.minimized) {
    splash = std::make_unique<QSplashScreen>(SplashPixmap());
    splash->show();
    app.processEvents();
  }

  Vault vault;
  bool opened;
  {
    VaultLock lock(vault.lock);
    opened = vault.db.Init("");
  }
  if (!opened) {
    if (splash) splash->hide();
    std::unique_ptr<QMessageBox> box =
        DatabaseFailureBox(NewsDatabaseLocation(Settings::Shared(), kPathBuffer), vault.db.openError());
    box->exec();
  }

  bool tray = QSystemTrayIcon::isSystemTrayAvailable();
  CMainFrame frame(vault, tray);
  QObject::connect(&frame, &CMainFrame::quitRequested, &app, &QCoreApplication::quit, Qt::QueuedConnection);
  QObject::connect(&instance, &SingleInstance::activateRequested, &frame, &CMainFrame::ShowFromTray);
  QObject::connect(&instance, &SingleInstance::closeAllRequested, &frame, &CMainFrame::CloseAll);
  ShowMainWindow(frame, splash.get(), words.minimized, tray);

  // An older database gets the grid's and the search's indexes on a thread
  // of its own; the status bar shows how far it is.
  std::atomic<bool> stopUpgrade{false};
  std::thread upgrade;
  if (opened) {
    auto* label = new QLabel(&frame);
    label->hide();
    frame.statusBar()->addPermanentWidget(label);
    QPointer<QLabel> guard(label);
    upgrade = std::thread([path = vault.db.database()->path(), &stopUpgrade, guard] {
      UpgradeIndexes(path, stopUpgrade, [guard](const std::string& what, int percent) {
        QString text;
        // Deleted news leaving the index change no search: nothing to show.
        if (percent < 100 && what != "drain")
          text = (what == "grid" ? QCoreApplication::translate("Newsdesk", "Building the news list index: %1%")
                                 : QCoreApplication::translate("Newsdesk", "Building the search index: %1%"))
                     .arg(percent);
        QMetaObject::invokeMethod(qApp, [guard, text] {
          if (!guard) return;
          guard->setText(text);
          guard->setVisible(!text.isEmpty());
        });
      });
    });
  }
  int rc = app.exec();
  stopUpgrade = true;
  if (upgrade.joinable()) upgrade.join();
  return rc;
}

}  // namespace orvo
