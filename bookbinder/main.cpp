// Bookbinder: the eBook generator, a D-Bus service started on demand.
#include "bookbinder_object.h"
#include "busframe.h"

int main(int argc, char** argv) {
  orvo::ServerProgram program;
  program.name = "Bookbinder";
  program.summary = "ORVO eBook generator: turns the news of the eBook filters into .lit eBooks.";
  program.config.busName = QStringLiteral("org.orvo.OrvoConvert");
  program.config.className = QStringLiteral("OrvoConvert");
  program.config.makeObject = [] { return new orvo::BookbinderObject; };
  return orvo::RunServerProgram(argc, argv, std::move(program));
}
