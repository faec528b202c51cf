#include "net/interfaces.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>

#include "platform/pending_interrupt.h"
#include "platform/platform.h"

namespace {

// Protocol number of the helper socket that only asks for hardware addresses.
constexpr int kAddressQueryProtocol = 250;

int CountLines(FILE* file) {
  int lines = 0;
  for (int c = fgetc(file); c != EOF; c = fgetc(file)) {
    lines += c == '\n';
  }
  rewind(file);
  return lines;
}

// The interface name of a "/proc/net/dev" line: its first word, cut at the first ":".
std::string InterfaceName(const char* line) {
  line += strspn(line, " \t");
  size_t length = strcspn(line, ": \t\n");
  return std::string(line, std::min<size_t>(length, IFNAMSIZ));
}

ifreq RequestFor(const std::string& name) {
  ifreq request{};
  strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
  return request;
}

bool RaiseInterface(int socket, const std::string& name) {
  ifreq request = RequestFor(name);
  if (InterfaceRequest(socket, SIOCGIFFLAGS, &request) != 0) {
    return false;
  }
  request.ifr_flags |= IFF_UP | IFF_RUNNING | IFF_PROMISC;
  return InterfaceRequest(socket, SIOCSIFFLAGS, &request) == 0;
}

// The protocol needs no IPv4 address; an interface without one is given 0.0.0.0.
bool EnsureIpv4Address(int socket, const std::string& name) {
  ifreq request = RequestFor(name);
  if (InterfaceRequest(socket, SIOCGIFADDR, &request) == 0) {
    return true;
  }
  request = RequestFor(name);
  auto* address = reinterpret_cast<sockaddr_in*>(&request.ifr_addr);
  address->sin_family = AF_INET;
  address->sin_addr.s_addr = htonl(INADDR_ANY);
  return InterfaceRequest(socket, SIOCSIFADDR, &request) == 0;
}

sockaddr_in ProtocolAddress(in_addr_t host) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(kProtocolPort);
  address.sin_addr.s_addr = htonl(host);
  return address;
}

// Makes the interface's socket and raises the interface, in the order the kernel needs: the
// device binding comes before the port, so that every interface can have port 5000.
bool OpenInterface(const std::string& name, NetInterface& interface) {
  int on = 1;
  int socket = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in any = ProtocolAddress(INADDR_ANY);
  bool opened = socket >= 0 && setsockopt(socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0 &&
                fcntl(socket, F_SETFL, O_NONBLOCK) == 0 &&
                setsockopt(socket, SOL_SOCKET, SO_BINDTODEVICE, name.c_str(), name.size()) == 0 &&
                RaiseInterface(socket, name) && EnsureIpv4Address(socket, name) &&
                bind(socket, reinterpret_cast<sockaddr*>(&any), sizeof any) == 0;
  if (!opened) {
    if (socket >= 0) {
      close(socket);
    }
    return false;
  }
  interface.socket = socket;
  interface.destination = ProtocolAddress(INADDR_BROADCAST);
  return true;
}

// Adds the interfaces of the remaining lines of `table`; false when an address query failed.
bool AddInterfaces(FILE* table, int query, std::vector<NetInterface>& interfaces) {
  char line[512];
  while (fgets(line, sizeof line, table) != nullptr) {
    std::string name = InterfaceName(line);
    ifreq request = RequestFor(name);
    if (InterfaceRequest(query, SIOCGIFHWADDR, &request) != 0) {
      return false;
    }
    NetInterface interface;
    memcpy(interface.hardwareAddress, request.ifr_hwaddr.sa_data, kHardwareAddressSize);
    if (!IsZeroAddress(interface.hardwareAddress) && OpenInterface(name, interface)) {
      interfaces.push_back(std::move(interface));
    }
  }
  return true;
}

}  // namespace

NetInterface::NetInterface(NetInterface&& other) noexcept {
  *this = std::move(other);
}

NetInterface& NetInterface::operator=(NetInterface&& other) noexcept {
  if (this != &other) {
    if (socket >= 0) {
      close(socket);
    }
    memcpy(hardwareAddress, other.hardwareAddress, kHardwareAddressSize);
    socket = other.socket;
    destination = other.destination;
    lastSender = other.lastSender;
    other.socket = -1;
  }
  return *this;
}

NetInterface::~NetInterface() {
  if (socket >= 0) {
    close(socket);
  }
}

void ScanInterfaces(std::vector<NetInterface>& interfaces) {
  interfaces.clear();
  FILE* table = fopen("/proc/net/dev", "r");
  if (table == nullptr) {
    return;
  }
  int lines = CountLines(table);
  interfaces.reserve(lines > 2 ? lines - 2 : 0);
  int query = socket(AF_INET, SOCK_RAW, kAddressQueryProtocol);
  char line[512];
  bool skipped = query >= 0 && fgets(line, sizeof line, table) != nullptr &&
                 fgets(line, sizeof line, table) != nullptr;
  if (skipped && !AddInterfaces(table, query, interfaces)) {
    interfaces.clear();
  }
  if (query >= 0) {
    close(query);
  }
  fclose(table);
}

bool SendDatagram(const NetInterface& interface, const uint8_t* datagram) {
  size_t length = kDatagramHeaderSize + LoadDatagramHeader(datagram).payloadLength;
  ssize_t sent = sendto(interface.socket, datagram, length, 0,
                        reinterpret_cast<const sockaddr*>(&interface.destination),
                        sizeof interface.destination);
  return sent == ssize_t(length);
}

int ReceiveDatagram(NetInterface& interface, uint8_t* buffer) {
  for (;;) {
    socklen_t size = sizeof interface.lastSender;
    ssize_t length = recvfrom(interface.socket, buffer, kDatagramSize, 0,
                              reinterpret_cast<sockaddr*>(&interface.lastSender), &size);
    if (length < 0 && errno == EINTR) {
      continue;
    }
    if (length < 0) {
      return -1;
    }
    if (interface.lastSender.sin_port == htons(kProtocolPort)) {
      return int(length);
    }
  }
}

bool WaitReadable(pollfd* descriptors, size_t count, uint64_t& microsecondsLeft) {
  for (;;) {
    uint64_t start = MonotonicMicroseconds();
    // Watches the interrupt's wake-up too, so an interrupt during the wait is carried out at once.
    int ready = WaitForDescriptors(descriptors, int(count), int64_t(microsecondsLeft));
    int error = errno;
    uint64_t spent = MonotonicMicroseconds() - start;
    microsecondsLeft -= std::min(spent, microsecondsLeft);
    if (ready > 0) {
      return true;
    }
    if (ready < 0 && error == EINTR && microsecondsLeft > 0) {
      continue;
    }
    return false;
  }
}
