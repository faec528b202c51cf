// install-server: the peer of the routers' network installation, for a fleet.
#include <signal.h>

#include <cstdio>

#include "tools/install-server/server_loop.h"
#include "tools/install-server/server_options.h"

namespace {

void RequestStop(int) {
  serverStopRequested = true;
}

void RequestReload(int) {
  serverReloadRequested = true;
}

// Without SA_RESTART, so that the wait on the sockets returns at once.
bool CatchSignals() {
  struct sigaction action = {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  struct sigaction reload = action;
  reload.sa_handler = RequestReload;
  return sigaction(SIGTERM, &action, nullptr) == 0 && sigaction(SIGINT, &action, nullptr) == 0 &&
         sigaction(SIGHUP, &reload, nullptr) == 0;
}

// The fleet view's stream: standard output for "-" (the log then moves to standard error).
bool OpenEvents(const std::string& path, InstallServer& server) {
  if (path.empty()) {
    return true;
  }
  if (path == "-") {
    server.events = stdout;
    server.log = stderr;
    return true;
  }
  server.events = fopen(path.c_str(), "ae");
  if (server.events == nullptr) {
    perror(("install-server: " + path).c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  ServerOptions options;
  if (!ParseServerOptions(argc, argv, options)) {
    PrintServerUsage(stderr);
    return kExitUsage;
  }
  if (options.help) {
    PrintServerUsage(stdout);
    return kExitStopped;
  }
  ServedDirectory served;
  if (!LoadServedDirectory(options.directory, options.profiles, options.defaultDrivers, served)) {
    return kExitFailed;
  }
  InstallServer server;
  server.served = &served;
  server.directory = options.directory;
  server.profilesPath = options.profiles;
  server.defaultDrivers = options.defaultDrivers;
  server.duplicateEvery = options.duplicateEvery;
  if (!OpenEvents(options.events, server)) {
    return kExitFailed;
  }
  for (const std::string& name : options.interfaces) {
    ServerInterface interface;
    if (!OpenServerInterface(name, interface)) {
      CloseServer(server);
      return kExitFailed;
    }
    server.interfaces.push_back(interface);
  }
  if (!CatchSignals()) {
    perror("install-server: cannot catch SIGTERM and SIGHUP");
    CloseServer(server);
    return kExitFailed;
  }
  fprintf(server.log, "install-server: serving %s on %zu interfaces, %zu profiles\n",
          options.directory.c_str(), server.interfaces.size(), served.profiles.size());
  fflush(server.log);
  bool served_well = ServeRouters(server);
  CloseServer(server);
  fprintf(server.log, "install-server: stopped\n");
  if (server.events != nullptr && server.events != stdout && fclose(server.events) != 0) {
    perror("install-server: the events file");
  }
  return served_well ? kExitStopped : kExitFailed;
}
