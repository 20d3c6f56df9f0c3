// Timekeeper: the scheduling service, a D-Bus service with one object at
// /OrvoRunner that runs until it is told to Terminate.
#include "busframe.h"
#include "timekeeper_object.h"

int main(int argc, char** argv) {
  orvo::ServerProgram program;
  program.name = "Timekeeper";
  program.summary = "ORVO scheduling service: starts downloads and eBook generation when they fall due.";
  program.config.busName = QStringLiteral("org.orvo.OrvoRunner");
  program.config.className = QStringLiteral("OrvoRunner");
  program.config.fixedPath = QStringLiteral("/OrvoRunner");
  program.config.shutdownMonitor = false;
  program.config.makeObject = [] { return new orvo::TimekeeperObject; };
  return orvo::RunServerProgram(argc, argv, std::move(program));
}
