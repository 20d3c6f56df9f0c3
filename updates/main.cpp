// orvo-updates: the updates server a user or a site maintainer runs.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "orvo_version.h"
#include "text.h"
#include "updates/server.h"

namespace {

const char* kHelp =
    "Usage: orvo-updates [OPTIONS] CATALOGUE_FOLDER\n"
    "\n"
    "Publishes a catalogue of news sites and their masks to ORVO over HTTP:\n"
    "  /catalogue.asp (also /)  the catalogue page the gathering engine reads\n"
    "  /getmask.asp             a mask's text, for the form field _mask=NAME\n"
    "  /end.asp                 the end of a client's update\n"
    "Point ORVO at it with DownloadURL=HOST:PORT/catalogue.asp in ORVO.ini.\n"
    "\n"
    "The folder holds catalogue.txt, one site/category pair per line:\n"
    "  site | category | list mask | version | news-page mask | version [| refetch]\n"
    "and the named mask files in its masks/ folder (HTML, UTF-8). Versions start\n"
    "at 2; raise a version and clients fetch that mask on their next download.\n"
    "refetch 1 makes clients fetch the pair's masks on every download. Lines that\n"
    "start with # are comments.\n"
    "\n"
    "The folder is read again whenever it changes. A folder that is not valid is\n"
    "reported (naming the file at fault) and the last good catalogue stays in\n"
    "service.\n"
    "\n"
    "Options:\n"
    "  --port N       port to listen on (default 8642; 0 picks a free one)\n"
    "  --listen ADDR  address to listen on (default 127.0.0.1, this machine only)\n"
    "  --static DIR   also serve the files of DIR (for example demo news sites)\n"
    "  --check        check the catalogue folder, print what is wrong, and exit\n"
    "  --help         show this text\n"
    "  --version      print the version\n"
    "\n"
    "Each request is logged on standard output. Stop the server with Ctrl+C.\n";

std::mutex g_out_mutex;

void Log(const std::string& line) {
  std::lock_guard<std::mutex> lock(g_out_mutex);
  std::printf("%s %s\n", orvo::FormatDbTime(std::time(nullptr)).c_str(), line.c_str());
  std::fflush(stdout);
}

bool TakeValue(int argc, char** argv, int& i, const char* flag, std::string* value) {
  size_t n = std::strlen(flag);
  if (std::strcmp(argv[i], flag) == 0) {
    if (i + 1 >= argc) {
      std::fprintf(stderr, "orvo-updates: %s needs a value; see --help\n", flag);
      std::exit(2);
    }
    *value = argv[++i];
    return true;
  }
  if (std::strncmp(argv[i], flag, n) == 0 && argv[i][n] == '=') {
    *value = argv[i] + n + 1;
    return true;
  }
  return false;
}

int Usage(const char* problem) {
  std::fprintf(stderr, "orvo-updates: %s\n\n%s", problem, kHelp);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  orvo::updates::ServerOptions options;
  bool check_only = false;
  std::string value;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (arg == "--version") {
      std::printf("orvo-updates %s\n", orvo::kVersion);
      return 0;
    } else if (arg == "--check") {
      check_only = true;
    } else if (TakeValue(argc, argv, i, "--port", &value)) {
      char* end = nullptr;
      long port = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end || port < 0 || port > 65535)
        return Usage(("--port wants a number from 0 to 65535, not \"" + value + "\"").c_str());
      options.port = static_cast<int>(port);
    } else if (TakeValue(argc, argv, i, "--listen", &value)) {
      options.host = value;
    } else if (TakeValue(argc, argv, i, "--static", &value)) {
      options.static_folder = value;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage(("unknown option " + arg).c_str());
    } else if (options.catalogue_folder.empty()) {
      options.catalogue_folder = arg;
    } else {
      return Usage(("unexpected argument " + arg).c_str());
    }
  }
  if (options.catalogue_folder.empty()) return Usage("name the catalogue folder to serve");

  // Ctrl+C and SIGTERM end the server cleanly: block them in every thread and
  // wait for them in one.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  orvo::updates::UpdatesServer server(options, Log);
  std::string error;
  if (!server.Load(&error)) {
    std::fprintf(stderr, "orvo-updates: the catalogue is not valid: %s\n", error.c_str());
    return 1;
  }
  if (check_only) {
    std::printf("The catalogue in %s is valid.\n", options.catalogue_folder.c_str());
    return 0;
  }
  int port = server.Bind(&error);
  if (port < 0) {
    std::fprintf(stderr, "orvo-updates: %s\n", error.c_str());
    return 1;
  }
  std::string where = options.host + ":" + std::to_string(port);
  Log("Listening on http://" + where + "/ ; set DownloadURL=" + where + "/catalogue.asp");
  if (!options.static_folder.empty()) Log("Serving the files of " + options.static_folder + " at http://" + where + "/");

  std::thread waiter([&] {
    int sig = 0;
    sigwait(&stop_signals, &sig);
    if (sig != 0) Log(std::string("Stopping (") + strsignal(sig) + ").");
    server.Stop();
  });
  bool ok = server.Serve();
  // Wake the waiter when the server ended on its own.
  pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
  return ok ? 0 : 1;
}
