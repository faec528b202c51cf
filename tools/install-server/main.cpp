// install-server: the peer of the routers' network installation, for a fleet.
#include <signal.h>

#include <cstdio>

#include "tools/install-server/server_loop.h"
#include "tools/install-server/server_options.h"

namespace {

void RequestStop(int) {
  serverStopRequested = true;
}

// Without SA_RESTART, so that the wait on the sockets returns at once.
bool CatchStopSignals() {
  struct sigaction action = {};
  action.sa_handler = RequestStop;
  sigemptyset(&action.sa_mask);
  return sigaction(SIGTERM, &action, nullptr) == 0 && sigaction(SIGINT, &action, nullptr) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  ServerOptions options;
  if (!ParseServerOptions(argc, argv, &options)) {
    PrintServerUsage(stderr);
    return kExitUsage;
  }
  if (options.help) {
    PrintServerUsage(stdout);
    return kExitStopped;
  }
  ServedDirectory served;
  if (!LoadServedDirectory(options.directory, options.profiles, &served)) {
    return kExitFailed;
  }
  InstallServer server;
  server.served = &served;
  server.duplicateEvery = options.duplicateEvery;
  for (const std::string& name : options.interfaces) {
    ServerInterface interface;
    if (!OpenServerInterface(name, &interface)) {
      CloseServer(&server);
      return kExitFailed;
    }
    server.interfaces.push_back(interface);
  }
  if (!CatchStopSignals()) {
    perror("install-server: cannot catch SIGTERM");
    CloseServer(&server);
    return kExitFailed;
  }
  printf("install-server: serving %s on %zu interfaces, %zu profiles\n", options.directory.c_str(),
         server.interfaces.size(), served.profiles.size());
  fflush(stdout);
  bool served_well = ServeRouters(&server);
  CloseServer(&server);
  printf("install-server: stopped\n");
  return served_well ? kExitStopped : kExitFailed;
}
