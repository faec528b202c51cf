#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "flows/net_datagram.h"
#include "tools/install-server/router_session.h"
#include "tools/install-server/served_directory.h"

// The server proper: one socket per interface, every router's session, and the loop that
// answers them until a stop is requested.

// One interface the server answers on.
struct ServerInterface {
  std::string name;
  uint8_t address[kHardwareAddressSize] = {};
  int socket = -1;
};

// Conversations kept at once. Any broadcast with a new source address starts one, so a flood of
// invented addresses would otherwise grow the server without end; past this many, the one silent
// longest is forgotten.
constexpr size_t kMaxRouterSessions = 4096;

// The server's whole state.
struct InstallServer {
  const ServedDirectory* served = nullptr;
  std::vector<ServerInterface> interfaces;
  std::map<uint64_t, std::unique_ptr<RouterSession>> routers;  // by packed hardware address
  uint64_t datagramsHandled = 0;  // the clock of RouterSession::lastHeard
  int duplicateEvery = 0;         // > 0: every Nth answer is sent twice, to test routers' checks
  uint64_t answersSent = 0;
  FILE* log = stdout;  // progress lines, identities and summaries
};

// Set by SIGTERM or SIGINT (or a test) to end ServeRouters within a quarter second.
extern std::atomic<bool> serverStopRequested;

// Opens a UDP socket bound to the named interface and port 5000 (non-blocking, broadcasts
// allowed) and reads the interface's hardware address. Prints "install-server: ..." and returns
// false when any step fails.
bool OpenServerInterface(const std::string& name, ServerInterface* out);

// Closes every interface socket and forgets every router.
void CloseServer(InstallServer* server);

// Answers routers on every interface until serverStopRequested is set. False (with a message)
// only when waiting on the sockets fails.
bool ServeRouters(InstallServer* server);

// Handles one datagram received on interface `index`: starts or continues the sender's
// conversation and sends the answer, if any.
void HandleDatagram(InstallServer* server, size_t index, const uint8_t* datagram, int length);
