// Bookbinder: the eBook generator, a D-Bus service started on demand.
#include "bookbinder_object.h"
#include "busframe.h"
#include "database.h"
#include "settings.h"

int main(int argc, char** argv) {
  // The database path is read once, at start; a change reaches the next process.
  orvo::SetProcessDatabasePath(
      orvo::Settings::Shared().ReadText(orvo::kSystemSection, "PathDB", "", orvo::kPathBuffer));

  orvo::ServerProgram program;
  program.name = "Bookbinder";
  program.summary = "ORVO eBook generator: turns the news of the eBook filters into .lit eBooks.";
  program.config.busName = QStringLiteral("org.orvo.OrvoConvert");
  program.config.className = QStringLiteral("OrvoConvert");
  program.config.makeObject = [] { return new orvo::BookbinderObject; };
  return orvo::RunServerProgram(argc, argv, std::move(program));
}
