// Gatherer: the gathering engine, a D-Bus service started on demand.
#include <cstring>

#include "busframe.h"
#include "gatherer_object.h"
#include "gatherer/masks/tools/try_mask.h"

int main(int argc, char** argv) {
  // Mask authors try a mask on a saved page without a bus or a database.
  if (argc > 1 && std::strcmp(argv[1], "--try-mask") == 0) return orvo::RunTryMask(argc, argv);
  orvo::ServerProgram program;
  program.name = "Gatherer";
  program.summary = "ORVO gathering engine: downloads the news of the selected sites into the news database.";
  program.moreHelp =
      "  --try-mask MASKFILE PAGEFILE [options]\n"
      "                apply a mask to a saved page and print what it extracts, with\n"
      "                no bus and no database (\"Gatherer --try-mask --help\" tells more)\n";
  program.config.busName = QStringLiteral("org.orvo.Gatherer2");
  program.config.className = QStringLiteral("Gatherer2");
  program.config.makeObject = [] { return new orvo::GathererObject; };
  return orvo::RunServerProgram(argc, argv, std::move(program));
}
