// orvo generate: one eBook generation through the bus, as the scheduling
// service would run it; prints the status texts and then the volumes written.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QTimer>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <tuple>

#include "bookbinder_interface.h"
#include "busframe.h"
#include "commands.h"
#include "eventlog.h"
#include "generation_run.h"
#include "runner_client.h"

namespace orvo::cli {

namespace {

const char* kGenerateHelp =
    "Usage: orvo generate [--format lit|epub|both] [--send] [--timeout SECONDS]\n"
    "\n"
    "Asks the eBook generator (Bookbinder, started by the session bus) for one\n"
    "run over the filters marked \"Use filter in .lit files generation\", prints\n"
    "its status as it comes and then the volumes it wrote (into PathPC, or\n"
    "lit/ in the program folder). Exits 0 when the run succeeded.\n"
    "\n"
    "  --format FORMAT     write .lit, .epub or both kinds of volume this time,\n"
    "                      whatever the BookFormat setting says (default: it)\n"
    "  --send              deliver this run's volumes to the reader's device:\n"
    "                      copied to a connected e-reader, mailed when a device\n"
    "                      address is set, whatever the after-run switches say\n"
    "  --timeout SECONDS   give up waiting after this long (default 3600)\n"
    "\n"
    "The generator must be registered with the bus once: Bookbinder -RegServer.\n"
    "When the scheduling service (Timekeeper) is registered or running, the run\n"
    "goes through it, as the reader's does, so it never overlaps a scheduled one;\n"
    "a run with --format or --send asks the generator itself, which still runs\n"
    "one generation at a time.\n";

const QString kService = QStringLiteral("org.orvo.OrvoConvert");

// The volumes (.lit, .epub) in a folder, each with what tells a rewrite
// apart: a volume is renamed into place, so a new one has a new inode.
using VolumeStamps = std::map<std::string, std::tuple<ino_t, long long, off_t>>;

VolumeStamps Volumes(const std::string& dir) {
  VolumeStamps found;
  std::error_code ec;
  for (auto& e : std::filesystem::directory_iterator(dir, ec)) {
    if (e.path().extension() != ".lit" && e.path().extension() != ".epub") continue;
    struct stat st;
    if (::stat(e.path().c_str(), &st) == 0)
      found[e.path().string()] = {st.st_ino, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec, st.st_size};
  }
  return found;
}

// The output folder's volumes before the run: file times alone cannot tell
// this run's from one that ended in the same second.
VolumeStamps VolumesBefore() { return Volumes(RunSettings::Read().outputDir); }

// The volumes this run wrote (new or rewritten since `before`), and the exit
// status from the run's last status text.
int ReportVolumes(const VolumeStamps& before, const QString& last) {
  for (const auto& [path, stamp] : Volumes(RunSettings::Read().outputDir)) {
    auto it = before.find(path);
    if (it == before.end() || it->second != stamp) std::printf("written: %s\n", path.c_str());
  }
  if (last != QString::fromUtf8(kRunSucceeded)) {
    std::fprintf(stderr, "orvo generate: the run failed; %s says why\n", EventLogPath().c_str());
    return 1;
  }
  return 0;
}

// The run started through Timekeeper's StartLitGen, its statuses relayed.
int GenerateThroughTimekeeper(const QDBusConnection& bus, int timeout) {
  const VolumeStamps before = VolumesBefore();
  QString last;
  RunnerClient client(bus);
  RunnerOutcome outcome = client.Run(
      RunnerJob::kLitGen,
      [&](const QString& text, int, int) {
        last = text;
        std::printf("%s\n", text.toLocal8Bit().constData());
        std::fflush(stdout);
      },
      timeout * 1000);
  if (!outcome.completed) {
    std::fprintf(stderr, "orvo generate: %s\n", outcome.error.toLocal8Bit().constData());
    if (outcome.error.startsWith(QStringLiteral("Could not create instance")))
      std::fprintf(stderr, "Register the eBook generator with the bus first: Bookbinder -RegServer\n");
    return 1;
  }
  return ReportVolumes(before, last);
}

}  // namespace

int RunGenerate(const Args& input) {
  if (WantsHelp(input)) {
    std::fputs(kGenerateHelp, stdout);
    return 0;
  }
  Args args = input;
  std::string timeoutText = "3600", formatText;
  TakeOption(args, "--timeout", &timeoutText);
  const bool formatGiven = TakeOption(args, "--format", &formatText);
  const bool send = TakeFlag(args, "--send");
  std::optional<BookFormat> format = formatGiven ? ParseBookFormat(formatText) : std::nullopt;
  if (formatGiven && !format) {
    std::fprintf(stderr, "orvo generate: --format takes lit, epub or both, not '%s'\n\n%s", formatText.c_str(),
                 kGenerateHelp);
    return 2;
  }
  int timeout = std::atoi(timeoutText.c_str());
  if (!args.empty() || timeout <= 0) {
    std::fprintf(stderr, "orvo generate: unexpected argument '%s'\n\n%s",
                 args.empty() ? timeoutText.c_str() : args[0].c_str(), kGenerateHelp);
    return 2;
  }

  NoteRegisteredDatabase("Bookbinder", kService.toStdString());
  int argc = 1;
  char name[] = "orvo";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    std::fprintf(stderr,
                 "orvo generate: no session bus (%s).\nRun it in a desktop session, or under dbus-run-session.\n",
                 bus.lastError().message().toLocal8Bit().constData());
    return 1;
  }
  // Timekeeper's StartLitGen carries no format and no delivery: a run that
  // asks for either goes straight to the generator.
  if (!format && !send && TimekeeperAvailable(bus)) return GenerateThroughTimekeeper(bus, timeout);

  QString error;
  QDBusObjectPath path = CreateBusObject(bus, kService, &error);
  if (path.path().isEmpty()) {
    std::fprintf(stderr,
                 "orvo generate: cannot reach the eBook generator: %s\n"
                 "Register it with the bus first: Bookbinder -RegServer\n",
                 error.toLocal8Bit().constData());
    return 1;
  }

  // The object lives in the process that made it: calls and events go to
  // that process's unique name. Proxies on the well-known name would make Qt
  // track its owner, and the owner change of the activation itself then
  // arrives late and is printed as a warning on every run.
  const QString owner = bus.interface()->serviceOwner(kService).value();
  const QString service = owner.isEmpty() ? kService : owner;
  OrgOrvo_IOrvoConvertEventsInterface events(service, path.path(), bus);
  OrgOrvoIOrvoConvertInterface convert(service, path.path(), bus);
  QString last;
  bool completed = false;
  QObject::connect(&events, &OrgOrvo_IOrvoConvertEventsInterface::OnProcessStatus, [&](const QString& status) {
    last = status;
    std::printf("%s\n", status.toLocal8Bit().constData());
    std::fflush(stdout);
  });
  QObject::connect(&events, &OrgOrvo_IOrvoConvertEventsInterface::Complite, [&](int) {
    completed = true;
    app.quit();
  });
  QTimer::singleShot(timeout * 1000, &app, [&] { app.quit(); });

  const VolumeStamps before = VolumesBefore();
  QDBusPendingReply<> reply = convert.Generate((format ? BookFormatCode(*format) : 0) | (send ? kSendNowFlag : 0));
  reply.waitForFinished();
  if (reply.isError()) {
    std::fprintf(stderr, "orvo generate: Generate failed: %s\n", reply.error().message().toLocal8Bit().constData());
    ReleaseBusObject(bus, kService, path.path(), &error);
    return 1;
  }
  if (!completed) app.exec();
  ReleaseBusObject(bus, kService, path.path(), &error);
  if (!completed) {
    std::fprintf(stderr, "orvo generate: no end of the run after %d s; see %s\n", timeout, EventLogPath().c_str());
    return 1;
  }

  return ReportVolumes(before, last);
}

}  // namespace orvo::cli
