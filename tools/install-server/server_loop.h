#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "net/datagram.h"
#include "net/timings.h"
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
// invented addresses would otherwise grow the server without end. Past this many, the unbound
// conversation silent longest is forgotten; a bound router is never forgotten for a newcomer.
constexpr size_t kMaxRouterSessions = 4096;
// A conversation silent this long is forgotten and its file closed. A bound router is silent
// between YACK and STRT while it partitions and formats its disk, which can take minutes on a
// large, slow disk.
constexpr uint64_t kIdleTimeoutMicroseconds = 20 * 60 * 1000000ull;
// A router gives up a data request after kDataRequestGiveUp (6 s): silent longer, its file is set
// aside (closed, and reopened should it speak again).
constexpr uint64_t kFileIdleMicroseconds = kDataRequestGiveUp + 4 * 1000000ull;
// A broadcast from a router being served that spoke within this time is ignored: it does not
// restart the conversation, and when it comes in on a second interface it is not answered there.
constexpr uint64_t kRecentMicroseconds = 10 * 1000000ull;
// Files open at once, at most; past that the file of the router silent longest is set aside.
// The unit's LimitNOFILE leaves room for these besides the sockets, the log and the events.
constexpr size_t kMaxOpenFiles = 1024;

// The server's whole state.
struct InstallServer {
  ServedDirectory* served = nullptr;  // replaced in place by a reload
  std::string directory;              // what a reload reads again
  std::string profilesPath;
  DefaultDrivers defaultDrivers = DefaultDrivers::kRequired;
  std::vector<ServerInterface> interfaces;
  std::map<uint64_t, std::unique_ptr<RouterSession>> routers;  // by packed hardware address
  OpenFileCount openFiles{0, kMaxOpenFiles};
  int duplicateEvery = 0;  // > 0: every Nth answer is sent twice, to test routers' checks
  uint64_t answersSent = 0;
  FILE* log = stdout;       // progress lines, identities and summaries
  FILE* events = nullptr;   // the fleet view; null: none
  uint64_t noticeTime = 0;  // when the last line about a new or refused address was written
  uint32_t noticesLeftOut = 0;
  uint64_t lastSweep = 0;
};

// Set by SIGTERM or SIGINT (or a test) to end ServeRouters within a quarter second.
extern std::atomic<bool> serverStopRequested;
// Set by SIGHUP (or a test): ServeRouters reloads the profiles and the directory.
extern std::atomic<bool> serverReloadRequested;

// Opens a UDP socket bound to the named interface and port 5000 (non-blocking, broadcasts
// allowed) and reads the interface's hardware address. Prints "install-server: ..." and returns
// false when any step fails.
bool OpenServerInterface(const std::string& name, ServerInterface& out);

// Closes every interface socket and forgets every router.
void CloseServer(InstallServer& server);

// Answers routers on every interface until serverStopRequested is set. Open files are held to
// what RLIMIT_NOFILE leaves. False (with a message) only when waiting on the sockets fails.
bool ServeRouters(InstallServer& server);

// Handles one datagram received on interface `index`: starts or continues the sender's
// conversation and sends the answer, if any.
void HandleDatagram(InstallServer& server, size_t index, const uint8_t* datagram, int length);

// Forgets conversations silent past the idle timeout and sets aside files of silent routers;
// writes the count of lines left out by the once-a-second limit.
void SweepRouters(InstallServer& server);

// Reads the profiles and the directory again. Conversations under way go on with what they were
// offered, their files open. On failure the previous profiles stay, with a message; false.
bool ReloadServedDirectory(InstallServer& server);
