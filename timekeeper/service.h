// Timekeeper as a systemd user service.
//
// "-Service" writes a user unit (Type=dbus, BusName=org.orvo.OrvoRunner) and
// an activation file that names it, so the session bus and systemd agree on
// one Timekeeper, then enables and starts the unit: it runs from login on and
// checks the schedules whether or not the reader is open. "-UnregServer"
// undoes it. Without a systemd user manager (containers, CI, some SSH
// sessions) the files are still written and the user is told what to run.
#pragma once

#include <string>
#include <vector>

namespace orvo {

inline constexpr const char* kServiceUnitName = "orvo-timekeeper.service";
// Set in the unit's environment: the process then runs as the service.
inline constexpr const char* kServiceEnvironment = "ORVO_SERVICE";

// $XDG_CONFIG_HOME/systemd/user, with ~/.config when XDG_CONFIG_HOME is unset
// or not absolute.
std::string UserUnitDirectory();
std::string ServiceUnitPath();

// The unit's text. ORVO_HOME is carried when not empty so the service uses the
// program folder of the one who installed it.
std::string ServiceUnitText(const std::string& programPath, const std::string& orvoHome);

// The unit an installed copy ships for the program at `programPath`
// (<prefix>/lib/systemd/user beside <prefix>/libexec/orvo), when it is there
// and runs that program; empty otherwise. Such a copy needs no unit of the
// user's own, which would shadow the packaged one.
std::string PackagedServiceUnit(const std::string& programPath);

// True when this process was started as the service (by the unit).
bool RunningAsService();

// "Service started", "Service stopped" and the like: to the journal through
// syslog when running as the service, to standard output otherwise.
void ServiceMessage(const std::string& text);

struct ServiceStep {
  int exitCode = 0;
  std::string message;  // lines for the user, without the final newline
};

// Runs a program with its arguments and waits up to `timeoutMs`; the exit
// status (127 when it cannot be started, 124 on time-out) and what it printed.
int RunProgram(const std::vector<std::string>& argv, std::string* output, int timeoutMs = 30000);

// Writes the unit, reloads the user manager and enables and starts the unit;
// with a packaged unit for the program (and no ORVO_HOME to carry), enables
// and starts that one instead and writes nothing. A missing user manager is
// not an error: the message says so and what to do.
ServiceStep InstallServiceUnit(const std::string& programPath, const std::string& orvoHome);

// When the unit file is installed: stops and disables the unit, removes the
// file and reloads; when the user had enabled the packaged unit of
// `programPath` instead, stops and disables that one. Nothing installed is not
// an error, and then systemd is not asked at all.
ServiceStep RemoveServiceUnit(const std::string& programPath = "");

}  // namespace orvo
