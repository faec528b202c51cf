#include "tools/install-server/server_loop.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/filter.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "net/hardware_address.h"
#include "net/messages.h"
#include "platform/platform.h"
#include "tools/install-server/event_log.h"

std::atomic<bool> serverStopRequested{false};
std::atomic<bool> serverReloadRequested{false};

namespace {

constexpr int kStopCheckMilliseconds = 250;
constexpr uint64_t kSecond = 1000000;
// Descriptors kept for other uses than served files: sockets, log, events, a reload's reads.
constexpr size_t kReservedDescriptors = 32;

bool Fail(int socket, const std::string& name, const char* step) {
  fprintf(stderr, "install-server: %s: %s: %s\n", name.c_str(), step, strerror(errno));
  if (socket >= 0) {
    close(socket);
  }
  return false;
}

bool ReadHardwareAddress(int socket, const std::string& name, uint8_t* address) {
  ifreq request;
  memset(&request, 0, sizeof request);
  strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
  // Only reads the address; the server never changes an interface.
  if (ioctl(socket, SIOCGIFHWADDR, &request) != 0) {
    return false;
  }
  memcpy(address, request.ifr_hwaddr.sa_data, kHardwareAddressSize);
  return true;
}

// Our answers are broadcasts, and the kernel hands every broadcast sent from this host back to
// its own port-5000 sockets: a copy of each 4 KB answer would wake the server and be read only
// to be dropped. A socket filter drops datagrams whose source field is this interface's address
// before they are queued (offset 0 is the UDP header, the datagram's header follows it).
void DropOwnDatagrams(int socket, const std::string& name, const uint8_t* address) {
  uint32_t high = uint32_t(address[0]) << 24 | uint32_t(address[1]) << 16 |
                  uint32_t(address[2]) << 8 | address[3];
  uint32_t low = uint32_t(address[4]) << 8 | address[5];
  sock_filter code[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, 8),  BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, high, 0, 2),
      BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 12), BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, low, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, 0xffffffff),  BPF_STMT(BPF_RET | BPF_K, 0),
  };
  sock_fprog program{sizeof code / sizeof code[0], code};
  if (setsockopt(socket, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0) {
    // Only slower: the loop drops our own datagrams by their source address as well.
    fprintf(stderr, "install-server: %s: cannot filter our own broadcasts: %s\n", name.c_str(),
            strerror(errno));
  }
}

void Send(const ServerInterface& interface, const uint8_t* datagram, int length) {
  sockaddr_in destination{};
  destination.sin_family = AF_INET;
  destination.sin_port = htons(kProtocolPort);
  destination.sin_addr.s_addr = htonl(INADDR_BROADCAST);
  // A lost answer is the router's to repeat; a failed send is one more lost datagram.
  (void)sendto(interface.socket, datagram, size_t(length), 0,
               reinterpret_cast<sockaddr*>(&destination), sizeof destination);
}

void SendAnswer(InstallServer& server, const RouterSession& session) {
  const ServerInterface& interface = server.interfaces[session.interfaceIndex];
  Send(interface, session.answer, session.answerLength);
  ++server.answersSent;
  if (server.duplicateEvery > 0 && server.answersSent % uint64_t(server.duplicateEvery) == 0) {
    Send(interface, session.answer, session.answerLength);
  }
}

// A line about a new or refused address: at most one a second, so that a flood of invented
// addresses writes one line a second and says how many it left out.
void Notice(InstallServer& server, const std::string& line) {
  uint64_t now = MonotonicMicroseconds();
  if (server.noticeTime != 0 && now - server.noticeTime < kSecond) {
    ++server.noticesLeftOut;
    return;
  }
  server.noticeTime = now;
  fprintf(server.log, "%s", line.c_str());
  if (server.noticesLeftOut > 0) {
    fprintf(server.log, "install-server: %u more lines about new or refused addresses left out\n",
            server.noticesLeftOut);
    server.noticesLeftOut = 0;
  }
  fflush(server.log);
}

double Seconds(uint64_t since) {
  return double(MonotonicMicroseconds() - since) / 1e6;
}

std::string Conversation(const RouterSession& session) {
  return session.drivers ? "drivers" : "installation";
}

// One line per change of state or of the count of files sent; the offers, which any address
// gets, go through the once-a-second limit.
void PrintProgress(InstallServer& server, RouterSession& session) {
  session.progressChanged = false;
  if (session.state == session.shownState && session.filesSent == session.shownFiles) {
    return;
  }
  session.shownState = session.state;
  session.shownFiles = session.filesSent;
  std::string address = HardwareAddressText(session.address);
  const Profile& profile = *session.profile;
  char line[512];
  if (session.state == RouterState::kFarewell) {
    double seconds = Seconds(session.startMicroseconds);
    snprintf(line, sizeof line,
             "%s finished: profile %s, %u files, %llu bytes in %.2f s (%.2f MB/s), %u repeated "
             "answers\n",
             address.c_str(), profile.name.c_str(), session.filesSent,
             (unsigned long long)session.bytesSent, seconds,
             seconds > 0 ? double(session.bytesSent) / seconds / 1e6 : 0.0,
             session.repeatedAnswers);
  } else {
    snprintf(line, sizeof line, "%s %s: %u of %zu files, %llu bytes sent%s%s\n", address.c_str(),
             RouterStateName(session.state), session.filesSent, profile.files.size(),
             (unsigned long long)session.bytesSent, session.failure.empty() ? "" : ": ",
             session.failure.c_str());
  }
  if (session.state == RouterState::kOffered || session.state == RouterState::kDriverOffer) {
    Notice(server, line);
    return;
  }
  fputs(line, server.log);
  fflush(server.log);
}

void ReportBound(InstallServer& server, RouterSession& session, const std::string& address) {
  if (!session.drivers) {
    std::vector<std::string> lines = session.identity;
    lines.resize(4);
    fprintf(server.log, "%s says: identity \"%s\" \"%s\", label \"%s\", architecture \"%s\"\n",
            address.c_str(), lines[0].c_str(), lines[1].c_str(), lines[2].c_str(),
            lines[3].c_str());
    WriteEvent(server.events, "identity", address,
               {{"identity1", JsonText(lines[0])},
                {"identity2", JsonText(lines[1])},
                {"label", JsonText(lines[2])},
                {"architecture", JsonText(lines[3])}});
    session.identity.clear();
    session.identity.shrink_to_fit();
  }
  WriteEvent(server.events, "bound", address,
             {{"conversation", JsonText(Conversation(session))},
              {"profile", JsonText(session.profile->name)},
              {"keep", JsonBool(session.profile->keep)},
              {"interface", JsonText(server.interfaces[session.interfaceIndex].name)}});
}

// What a conversation's step came to, for the events: compared with where it stood before.
struct Before {
  RouterState state;
  size_t nextFile;
  uint32_t filesSent;
};

void ReportChanges(InstallServer& server, RouterSession& session, const Before& before) {
  std::string address = HardwareAddressText(session.address);
  RouterState state = session.state;
  if (state != before.state && (state == RouterState::kBound || state == RouterState::kDrivers)) {
    ReportBound(server, session, address);
  }
  if (session.filesSent > before.filesSent) {
    WriteEvent(server.events, "file-done", address,
               {{"file", JsonText(CurrentFileName(session))},
                {"bytes", JsonNumber((unsigned long long)session.fileSize)},
                {"seconds", JsonNumber(Seconds(session.fileStartMicroseconds))}});
  }
  if (session.nextFile > before.nextFile && session.inFile) {
    WriteEvent(server.events, "file-started", address,
               {{"file", JsonText(CurrentFileName(session))},
                {"size", JsonNumber((unsigned long long)session.fileSize)}});
  }
  // A router goes from its driver package's end straight to its DSCV.
  bool driversDone = session.drivers && session.filesSent > before.filesSent &&
                     session.filesSent == session.profile->files.size();
  if ((state != before.state && state == RouterState::kFarewell) || driversDone) {
    WriteEvent(server.events, "finished", address,
               {{"conversation", JsonText(Conversation(session))},
                {"profile", JsonText(session.profile->name)},
                {"files", JsonNumber((unsigned long long)session.filesSent)},
                {"bytes", JsonNumber((unsigned long long)session.bytesSent)},
                {"seconds", JsonNumber(Seconds(session.startMicroseconds))},
                {"repeated", JsonNumber((unsigned long long)session.repeatedAnswers)}});
  }
  if (state != before.state && state == RouterState::kFailed) {
    WriteEvent(server.events, "failed", address,
               {{"conversation", JsonText(Conversation(session))},
                {"profile", JsonText(session.profile->name)},
                {"file", JsonText(CurrentFileName(session))},
                {"reason", JsonText(session.failure)}});
  }
  if (session.progressChanged) {
    PrintProgress(server, session);
  }
}

// The conversation to forget for a newcomer: the unbound one silent longest; none when every
// conversation is a bound router within its timeout (the sweep forgets the others).
std::map<uint64_t, std::unique_ptr<RouterSession>>::iterator ForgettableRouter(
    InstallServer& server) {
  auto chosen = server.routers.end();
  for (auto it = server.routers.begin(); it != server.routers.end(); ++it) {
    if (!IsBoundState(it->second->state) &&
        (chosen == server.routers.end() || it->second->lastHeard < chosen->second->lastHeard)) {
      chosen = it;
    }
  }
  return chosen;
}

// The sender's conversation, made when it is new; nullptr when the table is full of bound routers.
RouterSession* SessionFor(InstallServer& server, const DatagramHeader& header, size_t index) {
  uint64_t key = PackHardwareAddress(header.source);
  auto found = server.routers.find(key);
  if (found == server.routers.end() && server.routers.size() >= kMaxRouterSessions) {
    auto forgotten = ForgettableRouter(server);
    if (forgotten == server.routers.end()) {
      Notice(server, HardwareAddressText(header.source) +
                         " refused: every conversation is a router being served\n");
      return nullptr;
    }
    server.routers.erase(forgotten);
  }
  std::unique_ptr<RouterSession>& slot = server.routers[key];
  if (!slot) {
    slot = std::make_unique<RouterSession>();
    memcpy(slot->address, header.source, kHardwareAddressSize);
    slot->openFiles = &server.openFiles;
  }
  RouterSession& session = *slot;
  session.lastHeard = MonotonicMicroseconds();
  session.interfaceIndex = index;
  memcpy(session.serverAddress, server.interfaces[index].address, kHardwareAddressSize);
  return &session;
}

// A broadcast from a router that spoke recently in a conversation under way, or on another
// interface, is an echo of another segment or an invention: it is not answered.
bool IgnoreBroadcast(InstallServer& server, const RouterSession& session, size_t index) {
  bool recent = MonotonicMicroseconds() - session.lastHeard < kRecentMicroseconds;
  if (!recent) {
    return false;
  }
  if (session.interfaceIndex != index) {
    if (!session.warnedInterfaces) {
      fprintf(server.log,
              "install-server: warning: %s is heard on %s and %s; two interfaces on one segment "
              "break its installation\n",
              HardwareAddressText(session.address).c_str(),
              server.interfaces[session.interfaceIndex].name.c_str(),
              server.interfaces[index].name.c_str());
      fflush(server.log);
    }
    return true;
  }
  // The driver package's end is the last thing a router asks for before its DSCV.
  return (session.state == RouterState::kDrivers && session.inFile) ||
         session.state == RouterState::kBound || session.state == RouterState::kInstalling;
}

// A broadcast begins a conversation: DRVR for the drivers, DSCV for the installation.
void HandleBroadcast(InstallServer& server, size_t index, const DatagramHeader& header,
                     const uint8_t* payload) {
  int length = header.payloadLength;
  std::string_view text(reinterpret_cast<const char*>(payload), size_t(length));
  bool drivers = text.starts_with(kDriverRequestWord);
  bool discover = text.starts_with(kDiscoverWord);
  if (!drivers && !discover) {
    return;
  }
  std::string address = HardwareAddressText(header.source);
  auto known = server.routers.find(PackHardwareAddress(header.source));
  if (known != server.routers.end() && IgnoreBroadcast(server, *known->second, index)) {
    known->second->warnedInterfaces |= known->second->interfaceIndex != index;
    return;
  }
  ServedFile driver;
  std::shared_ptr<const Profile> profile;
  if (drivers && !ChooseDriverFile(*server.served, DriverRelease(text), driver)) {
    Notice(server, address + " has no driver package for its kernel release\n");
    return;
  }
  if (discover && !(profile = ProfileFor(*server.served, header.source))) {
    Notice(server, address + " has no profile and there is no default profile\n");
    return;
  }
  RouterSession* found = SessionFor(server, header, index);
  if (found == nullptr) {
    return;
  }
  RouterSession& session = *found;
  if (drivers) {
    StartDriverConversation(session, driver, server.served->root);
  } else {
    StartInstallation(session, profile);
    session.identity = DiscoverLines(text);
  }
  session.shownState = RouterState::kFailed;
  session.shownFiles = UINT32_MAX;
  SendAnswer(server, session);
  PrintProgress(server, session);
}

bool IsOwnAddress(const InstallServer& server, const uint8_t* address) {
  for (const ServerInterface& interface : server.interfaces) {
    if (memcmp(interface.address, address, kHardwareAddressSize) == 0) {
      return true;
    }
  }
  return false;
}

// Keeps the open files under the limit: a request that may open one first sets aside the file
// of the router silent longest.
void MakeRoomForFile(InstallServer& server, const RouterSession& asking) {
  if (asking.fileDescriptor >= 0 || server.openFiles.open < server.openFiles.limit) {
    return;
  }
  RouterSession* oldest = nullptr;
  for (auto& [key, session] : server.routers) {
    if (session->fileDescriptor >= 0 &&
        (oldest == nullptr || session->lastHeard < oldest->lastHeard)) {
      oldest = session.get();
    }
  }
  if (oldest != nullptr) {
    SetFileAside(*oldest);
  }
}

void ReceiveAll(InstallServer& server, size_t index) {
  uint8_t datagram[kDatagramSize];
  for (;;) {
    sockaddr_in sender{};
    socklen_t senderLength = sizeof sender;
    ssize_t got = recvfrom(server.interfaces[index].socket, datagram, sizeof datagram, 0,
                           reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (got < 0) {
      return;
    }
    if (sender.sin_family == AF_INET && ntohs(sender.sin_port) == kProtocolPort) {
      HandleDatagram(server, index, datagram, int(got));
    }
  }
}

// Files the descriptor limit of the process leaves room for, at most kMaxOpenFiles.
size_t OpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
    return kMaxOpenFiles;
  }
  if (limit.rlim_cur <= 2 * kReservedDescriptors) {
    return kReservedDescriptors / 2;
  }
  return std::min<size_t>(kMaxOpenFiles, size_t(limit.rlim_cur) - kReservedDescriptors);
}

}  // namespace

bool OpenServerInterface(const std::string& name, ServerInterface& out) {
  int one = 1;
  int socketNumber = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (socketNumber < 0) {
    return Fail(-1, name, "cannot make a socket");
  }
  if (setsockopt(socketNumber, SOL_SOCKET, SO_BROADCAST, &one, sizeof one) != 0 ||
      setsockopt(socketNumber, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0) {
    return Fail(socketNumber, name, "cannot allow broadcasts");
  }
  if (setsockopt(socketNumber, SOL_SOCKET, SO_BINDTODEVICE, name.c_str(), socklen_t(name.size())) !=
      0) {
    return Fail(socketNumber, name, "cannot bind to the interface");
  }
  if (!ReadHardwareAddress(socketNumber, name, out.address) || IsZeroAddress(out.address)) {
    return Fail(socketNumber, name, "cannot read the hardware address");
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(kProtocolPort);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bind(socketNumber, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    return Fail(socketNumber, name, "cannot bind to port 5000");
  }
  DropOwnDatagrams(socketNumber, name, out.address);
  out.name = name;
  out.socket = socketNumber;
  return true;
}

void CloseServer(InstallServer& server) {
  for (ServerInterface& interface : server.interfaces) {
    if (interface.socket >= 0) {
      close(interface.socket);
      interface.socket = -1;
    }
  }
  server.routers.clear();
}

void HandleDatagram(InstallServer& server, size_t index, const uint8_t* datagram, int length) {
  if (length < kDatagramHeaderSize) {
    return;
  }
  DatagramHeader header = LoadDatagramHeader(datagram);
  // Our own broadcasts come back, and other servers' answers pass by: only routers' requests
  // addressed to everyone or to this interface count.
  if (header.payloadLength != length - kDatagramHeaderSize || IsZeroAddress(header.source) ||
      IsOwnAddress(server, header.source)) {
    return;
  }
  const uint8_t* payload = datagram + kDatagramHeaderSize;
  if (IsZeroAddress(header.destination)) {
    HandleBroadcast(server, index, header, payload);
    return;
  }
  if (memcmp(header.destination, server.interfaces[index].address, kHardwareAddressSize) != 0) {
    return;
  }
  auto found = server.routers.find(PackHardwareAddress(header.source));
  if (found == server.routers.end() || found->second->interfaceIndex != index) {
    return;
  }
  RouterSession& session = *found->second;
  session.lastHeard = MonotonicMicroseconds();
  MakeRoomForFile(server, session);
  Before before{session.state, session.nextFile, session.filesSent};
  if (AnswerRequest(session, header, payload) != RequestOutcome::kIgnored) {
    SendAnswer(server, session);
  }
  ReportChanges(server, session, before);
}

void SweepRouters(InstallServer& server) {
  uint64_t now = MonotonicMicroseconds();
  server.lastSweep = now;
  for (auto it = server.routers.begin(); it != server.routers.end();) {
    RouterSession& session = *it->second;
    uint64_t silent = now - session.lastHeard;
    if (silent < kIdleTimeoutMicroseconds) {
      if (session.fileDescriptor >= 0 && silent > kFileIdleMicroseconds) {
        SetFileAside(session);
      }
      ++it;
      continue;
    }
    if (IsBoundState(session.state)) {
      std::string address = HardwareAddressText(session.address);
      fprintf(server.log, "%s forgotten after %llu s of silence (%s, %u of %zu files sent)\n",
              address.c_str(), (unsigned long long)(silent / kSecond),
              RouterStateName(session.state), session.filesSent, session.profile->files.size());
      WriteEvent(server.events, "failed", address,
                 {{"conversation", JsonText(Conversation(session))},
                  {"profile", JsonText(session.profile->name)},
                  {"file", JsonText(session.inFile ? CurrentFileName(session) : "")},
                  {"reason", JsonText("silent past the idle timeout")}});
    }
    it = server.routers.erase(it);
  }
  if (server.noticesLeftOut > 0 && now - server.noticeTime >= kSecond) {
    fprintf(server.log, "install-server: %u more lines about new or refused addresses left out\n",
            server.noticesLeftOut);
    server.noticesLeftOut = 0;
    server.noticeTime = now;
  }
  fflush(server.log);
}

bool ReloadServedDirectory(InstallServer& server) {
  ServedDirectory fresh;
  if (!LoadServedDirectory(server.directory, server.profilesPath, server.defaultDrivers, fresh)) {
    fprintf(server.log, "install-server: reload failed; still serving the previous profiles\n");
    fflush(server.log);
    return false;
  }
  *server.served = std::move(fresh);
  fprintf(server.log, "install-server: reloaded %zu profiles; %zu conversations go on\n",
          server.served->profiles.size(), server.routers.size());
  fflush(server.log);
  return true;
}

// Reloads and sweeps between datagrams, when they are due.
void DoHousekeeping(InstallServer& server) {
  if (serverReloadRequested.exchange(false)) {
    ReloadServedDirectory(server);
  }
  if (MonotonicMicroseconds() - server.lastSweep >= kSecond) {
    SweepRouters(server);
  }
}

// With one interface a blocking receive with a time limit does the wait: a request then costs
// three system calls (receive, read, send) instead of five with a wait and a receive that finds
// nothing, and the request rate is what limits one router's throughput.
bool ServeOneInterface(InstallServer& server) {
  int socket = server.interfaces[0].socket;
  int flags = fcntl(socket, F_GETFL);
  timeval limit{0, kStopCheckMilliseconds * 1000};
  if (flags < 0 || fcntl(socket, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
      setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0) {
    perror("install-server: preparing the socket");
    return false;
  }
  uint8_t datagram[kDatagramSize];
  while (!serverStopRequested) {
    sockaddr_in sender{};
    socklen_t senderLength = sizeof sender;
    ssize_t got = recvfrom(socket, datagram, sizeof datagram, 0,
                           reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (got >= 0 && sender.sin_family == AF_INET && ntohs(sender.sin_port) == kProtocolPort) {
      HandleDatagram(server, 0, datagram, int(got));
    } else if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      perror("install-server: waiting for routers");
      return false;
    }
    DoHousekeeping(server);
  }
  return true;
}

bool ServeRouters(InstallServer& server) {
  server.openFiles.limit = std::min(server.openFiles.limit, OpenFileLimit());
  if (server.interfaces.size() == 1) {
    return ServeOneInterface(server);
  }
  std::vector<pollfd> waits;
  for (const ServerInterface& interface : server.interfaces) {
    waits.push_back(pollfd{interface.socket, POLLIN, 0});
  }
  while (!serverStopRequested) {
    int ready = poll(waits.data(), waits.size(), kStopCheckMilliseconds);
    if (ready < 0 && errno != EINTR) {
      perror("install-server: waiting for routers");
      return false;
    }
    for (size_t i = 0; ready > 0 && i < waits.size(); ++i) {
      if (waits[i].revents & POLLIN) {
        ReceiveAll(server, i);
      }
    }
    DoHousekeeping(server);
  }
  return true;
}
