// Bookbinder: the eBook generator, a D-Bus service started on demand.
#include <QGuiApplication>

#include "bookbinder_object.h"
#include "busframe.h"
#include "database.h"
#include "settings.h"

int main(int argc, char** argv) {
  // The database path is read once, at start; a change reaches the next process.
  orvo::SetProcessDatabasePath(orvo::NewsDatabaseLocation(orvo::Settings::Shared(), orvo::kPathBuffer));

  orvo::ServerProgram program;
  program.name = "Bookbinder";
  program.summary = "ORVO eBook generator: turns the news of the eBook filters into .lit eBooks.";
  program.config.busName = QStringLiteral("org.orvo.OrvoConvert");
  program.config.className = QStringLiteral("OrvoConvert");
  program.config.makeObject = [] { return new orvo::BookbinderObject; };
  // The EPUB covers are drawn with text, and Qt's fonts come with a
  // QGuiApplication. The offscreen platform needs no display, so the
  // generator runs the same from the session bus, a service or SSH.
  program.makeApplication = [](int& argc, char** argv) -> std::unique_ptr<QCoreApplication> {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return std::make_unique<QGuiApplication>(argc, argv);
  };
  return orvo::RunServerProgram(argc, argv, std::move(program));
}
