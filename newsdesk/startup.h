// Start-up of the reader: the command line, the desktop entry written by
// "RegServer", and the one-instance rule over the session bus.
#pragma once

#include <QObject>
#include <QPixmap>
#include <QStringList>

#include <memory>
#include <string>

class QMessageBox;
class QSplashScreen;

namespace orvo {

inline constexpr const char* kNewsdeskBusName = "org.orvo.Newsdesk";

enum class RegistrationSwitch { kNone, kRegister, kUnregister };

// "RegServer" / "UnregServer": the rest of the command line after a "-" or
// "/" equals the word, ignoring letter case.
RegistrationSwitch FindRegistrationSwitch(const std::string& commandLine);

struct StartWords {
  bool closeAll = false;
  bool minimized = false;
};
// "closeall" and "min" anywhere in the lower-cased arguments.
StartWords ScanStartWords(const QStringList& argumentsAfterProgram);

// The desktop entry and its icon, in $XDG_DATA_HOME (default ~/.local/share).
std::string DesktopEntryPath();
std::string DesktopIconPath();
std::string DesktopEntryText(const std::string& program, const std::string& orvoHome, const std::string& icon);
// Both print what they did or what went wrong; 0 on success.
int RegisterDesktopEntry(const std::string& program);
int UnregisterDesktopEntry();

// Owns the bus name org.orvo.Newsdesk while the first instance runs; a
// second start calls Activate or CloseAll on it and ends.
class SingleInstance : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.orvo.Newsdesk")
 public:
  enum class Claim { kFirst, kSecond, kNoBus };
  explicit SingleInstance(QObject* parent = nullptr) : QObject(parent) {}
  Claim TryClaim(QString* error);
  // From a second instance: raise the first one, or make it quit.
  static bool NotifyFirst(bool closeAll, QString* error);

 public slots:
  Q_SCRIPTABLE void Activate();
  Q_SCRIPTABLE void CloseAll();

 signals:
  void activateRequested();
  void closeAllRequested();
};

class CMainFrame;

// The splash's picture: the program's name, whole, and a line under it.
QPixmap SplashPixmap();
// Shows the main window (or, started "min", only its tray icon) and closes
// the splash at once: the tip of the day and the boxes that follow the
// first show must not find it still open.
void ShowMainWindow(CMainFrame& frame, QSplashScreen* splash, bool minimized, bool tray);

// The warning when the news database does not open: for a PostgreSQL
// server, `why` (which names it) and what to do.
std::unique_ptr<QMessageBox> DatabaseFailureBox(const std::string& location, const std::string& why);

// The whole program; main() only calls this.
int RunNewsdesk(int argc, char** argv);

}  // namespace orvo
