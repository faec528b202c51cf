#include "tools/install-server/server_loop.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/install-server/hardware_address.h"

std::atomic<bool> serverStopRequested{false};

namespace {

constexpr int kStopCheckMilliseconds = 250;

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

void Send(const ServerInterface& interface, const uint8_t* datagram, int length) {
  sockaddr_in destination{};
  destination.sin_family = AF_INET;
  destination.sin_port = htons(kProtocolPort);
  destination.sin_addr.s_addr = htonl(INADDR_BROADCAST);
  // A lost answer is the router's to repeat; a failed send is one more lost datagram.
  (void)sendto(interface.socket, datagram, size_t(length), 0,
               reinterpret_cast<sockaddr*>(&destination), sizeof destination);
}

void SendAnswer(InstallServer* server, const RouterSession& session) {
  const ServerInterface& interface = server->interfaces[session.interfaceIndex];
  Send(interface, session.answer, session.answerLength);
  ++server->answersSent;
  if (server->duplicateEvery > 0 && server->answersSent % uint64_t(server->duplicateEvery) == 0) {
    Send(interface, session.answer, session.answerLength);
  }
}

void PrintProgress(InstallServer* server, RouterSession* session) {
  session->progressChanged = false;
  std::string address = HardwareAddressText(session->address);
  if (session->state == RouterState::kFarewell) {
    double seconds = double(ServerMicroseconds() - session->startMicroseconds) / 1e6;
    fprintf(server->log,
            "%s finished: profile %s, %u files, %llu bytes in %.2f s (%.2f MB/s), %u repeated "
            "answers\n",
            address.c_str(), session->profile.c_str(), session->filesSent,
            (unsigned long long)session->bytesSent, seconds,
            seconds > 0 ? double(session->bytesSent) / seconds / 1e6 : 0.0,
            session->repeatedAnswers);
  } else {
    fprintf(server->log, "%s %s: %u of %zu files, %llu bytes sent\n", address.c_str(),
            RouterStateName(session->state), session->filesSent, session->files.size(),
            (unsigned long long)session->bytesSent);
  }
  fflush(server->log);
}

// Makes room for one more conversation by forgetting the router silent longest.
void ForgetSilentRouter(InstallServer* server) {
  auto silent = server->routers.begin();
  for (auto it = server->routers.begin(); it != server->routers.end(); ++it) {
    if (it->second->lastHeard < silent->second->lastHeard) {
      silent = it;
    }
  }
  server->routers.erase(silent);
}

RouterSession* SessionFor(InstallServer* server, const DatagramHeader& header, size_t index) {
  uint64_t key = PackHardwareAddress(header.source);
  if (server->routers.count(key) == 0 && server->routers.size() >= kMaxRouterSessions) {
    ForgetSilentRouter(server);
  }
  std::unique_ptr<RouterSession>& session = server->routers[key];
  if (!session) {
    session = std::make_unique<RouterSession>();
    memcpy(session->address, header.source, kHardwareAddressSize);
  }
  session->lastHeard = server->datagramsHandled;
  session->interfaceIndex = index;
  memcpy(session->serverAddress, server->interfaces[index].address, kHardwareAddressSize);
  return session.get();
}

void LogIdentity(InstallServer* server, const uint8_t* address, const uint8_t* payload,
                 int length) {
  std::vector<std::string> lines = DiscoverLines(payload, length);
  lines.resize(4);
  fprintf(server->log, "%s says: identity \"%s\" \"%s\", label \"%s\", architecture \"%s\"\n",
          HardwareAddressText(address).c_str(), lines[0].c_str(), lines[1].c_str(),
          lines[2].c_str(), lines[3].c_str());
}

// A broadcast begins a conversation: DRVR for the drivers, DSCV for the installation.
void HandleBroadcast(InstallServer* server, size_t index, const DatagramHeader& header,
                     const uint8_t* payload) {
  int length = header.payloadLength;
  bool drivers = length >= 4 && memcmp(payload, "DRVR", 4) == 0;
  bool discover = length >= 4 && memcmp(payload, "DSCV", 4) == 0;
  if (drivers) {
    ServedFile driver;
    if (!ChooseDriverFile(*server->served, DriverRelease(payload, length), &driver)) {
      return;
    }
    StartDriverConversation(SessionFor(server, header, index), driver);
  } else if (discover) {
    const Profile* profile = ProfileFor(*server->served, header.source);
    bool known = server->routers.count(PackHardwareAddress(header.source)) > 0;
    RouterSession* session = SessionFor(server, header, index);
    // A router repeats DSCV until an offer reaches it: its identity is logged once.
    if (!known ||
        (session->state != RouterState::kOffered && session->state != RouterState::kFailed)) {
      LogIdentity(server, header.source, payload, length);
    }
    if (profile == nullptr) {
      if (session->state != RouterState::kFailed) {
        fprintf(server->log, "%s has no profile and there is no default profile\n",
                HardwareAddressText(header.source).c_str());
      }
      session->state = RouterState::kFailed;
      return;
    }
    StartInstallation(session, *profile);
  } else {
    return;
  }
  RouterSession* session = server->routers[PackHardwareAddress(header.source)].get();
  SendAnswer(server, *session);
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

void ReceiveAll(InstallServer* server, size_t index) {
  uint8_t datagram[kDatagramSize];
  for (;;) {
    sockaddr_in sender{};
    socklen_t senderLength = sizeof sender;
    ssize_t got = recvfrom(server->interfaces[index].socket, datagram, sizeof datagram, 0,
                           reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (got < 0) {
      return;
    }
    if (sender.sin_family == AF_INET && ntohs(sender.sin_port) == kProtocolPort) {
      HandleDatagram(server, index, datagram, int(got));
    }
  }
}

}  // namespace

bool OpenServerInterface(const std::string& name, ServerInterface* out) {
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
  if (!ReadHardwareAddress(socketNumber, name, out->address) || IsZeroAddress(out->address)) {
    return Fail(socketNumber, name, "cannot read the hardware address");
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(kProtocolPort);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bind(socketNumber, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    return Fail(socketNumber, name, "cannot bind to port 5000");
  }
  out->name = name;
  out->socket = socketNumber;
  return true;
}

void CloseServer(InstallServer* server) {
  for (ServerInterface& interface : server->interfaces) {
    if (interface.socket >= 0) {
      close(interface.socket);
      interface.socket = -1;
    }
  }
  server->routers.clear();
}

void HandleDatagram(InstallServer* server, size_t index, const uint8_t* datagram, int length) {
  if (length < kDatagramHeaderSize) {
    return;
  }
  DatagramHeader header = LoadDatagramHeader(datagram);
  // Our own broadcasts come back, and other servers' answers pass by: only routers' requests
  // addressed to everyone or to this interface count.
  if (header.payloadLength != length - kDatagramHeaderSize || IsZeroAddress(header.source) ||
      IsOwnAddress(*server, header.source)) {
    return;
  }
  ++server->datagramsHandled;
  const uint8_t* payload = datagram + kDatagramHeaderSize;
  if (IsZeroAddress(header.destination)) {
    HandleBroadcast(server, index, header, payload);
    return;
  }
  if (memcmp(header.destination, server->interfaces[index].address, kHardwareAddressSize) != 0) {
    return;
  }
  auto found = server->routers.find(PackHardwareAddress(header.source));
  if (found == server->routers.end()) {
    return;
  }
  RouterSession* session = found->second.get();
  session->lastHeard = server->datagramsHandled;
  if (AnswerRequest(session, header, payload) != RequestOutcome::kIgnored) {
    SendAnswer(server, *session);
  }
  if (session->progressChanged) {
    PrintProgress(server, session);
  }
}

bool ServeRouters(InstallServer* server) {
  std::vector<pollfd> waits;
  for (const ServerInterface& interface : server->interfaces) {
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
  }
  return true;
}
