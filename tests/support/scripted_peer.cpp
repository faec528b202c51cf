#include "tests/support/scripted_peer.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "tests/support/net_namespace.h"

namespace {

int OpenPeerSocket(int port) {
  int on = 1;
  int socket = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_port = htons(port);
  if (socket < 0 || setsockopt(socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
      setsockopt(socket, SOL_SOCKET, SO_BINDTODEVICE, "eth0", 4) != 0 ||
      bind(socket, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
    perror("scripted peer socket");
    if (socket >= 0) {
      close(socket);
    }
    return -1;
  }
  return socket;
}

}  // namespace

ScriptedPeer::ScriptedPeer(const std::string& space) {
  NamespaceVisit visit(space);
  socket_ = OpenPeerSocket(kProtocolPort);
  wrongPortSocket_ = OpenPeerSocket(kProtocolPort + 1);
  ifreq request{};
  strcpy(request.ifr_name, "eth0");
  ready_ = visit.Entered() && socket_ >= 0 && wrongPortSocket_ >= 0 &&
           ioctl(socket_, SIOCGIFHWADDR, &request) == 0;
  memcpy(address_, request.ifr_hwaddr.sa_data, kHardwareAddressSize);
}

ScriptedPeer::~ScriptedPeer() {
  for (int socket : {socket_, wrongPortSocket_}) {
    if (socket >= 0) {
      close(socket);
    }
  }
}

bool ScriptedPeer::Send(DatagramHeader header, std::string_view payload, bool wrongPort) const {
  uint8_t datagram[kDatagramSize] = {};
  header.payloadLength = uint16_t(payload.size());
  StoreDatagramHeader(datagram, header);
  memcpy(datagram + kDatagramHeaderSize, payload.data(), payload.size());
  sockaddr_in everyone{};
  everyone.sin_family = AF_INET;
  everyone.sin_port = htons(kProtocolPort);
  everyone.sin_addr.s_addr = htonl(INADDR_BROADCAST);
  size_t length = kDatagramHeaderSize + payload.size();
  return sendto(wrongPort ? wrongPortSocket_ : socket_, datagram, length, 0,
                reinterpret_cast<sockaddr*>(&everyone), sizeof everyone) == ssize_t(length);
}

int ScriptedPeer::Receive(uint8_t* buffer, int milliseconds) const {
  pollfd readable{socket_, POLLIN, 0};
  while (poll(&readable, 1, milliseconds) == 1) {
    ssize_t length = recv(socket_, buffer, kDatagramSize, 0);
    if (length >= kDatagramHeaderSize && memcmp(buffer + kSourceOffset, address_, 6) != 0) {
      return int(length);
    }
  }
  return -1;
}

bool ScriptedPeer::Queue(const std::vector<std::string>& replies, const uint8_t* client,
                         bool wrongPort) const {
  DatagramHeader reply;
  memcpy(reply.source, address_, kHardwareAddressSize);
  memcpy(reply.destination, client, kHardwareAddressSize);
  for (const std::string& payload : replies) {
    ++reply.sequence;
    if (!Send(reply, payload, wrongPort)) {
      return false;
    }
  }
  return true;
}

std::vector<PeerRequest> ScriptedPeer::Requests() const {
  std::vector<PeerRequest> requests;
  uint8_t buffer[kDatagramSize];
  for (int length; (length = Receive(buffer, 100)) >= 0;) {
    requests.push_back({std::string(reinterpret_cast<char*>(buffer + kDatagramHeaderSize),
                                    length - kDatagramHeaderSize),
                        LoadDatagramHeader(buffer).sequence});
  }
  return requests;
}
