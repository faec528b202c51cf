#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "net/datagram.h"

// The client's protocol state of the network installation: its usable interfaces, the server it
// talks to and the sequence counters, with the stamping and acceptance of single datagrams.

// One usable network interface, with its own socket bound to the device and port 5000.
struct NetInterface {
  uint8_t hardwareAddress[kHardwareAddressSize] = {};
  int socket = -1;
  sockaddr_in destination{};  // 255.255.255.255, port 5000
  sockaddr_in lastSender{};   // who sent the last datagram received here
};

struct NetSession;

// One file being received from the server; `available` and `position` describe the data
// datagram in `buffer`.
struct NetFileStream {
  char name[81] = {};
  int32_t size = 0;
  uint32_t available = 0;
  uint32_t position = 0;
  // Data bytes handed out so far, held against `size` when the server ends the file.
  uint64_t delivered = 0;
  uint8_t buffer[kDatagramSize] = {};
  NetInterface* interface = nullptr;
  NetSession* session = nullptr;
};

// The whole client state; one per installation, owned by the flow. Its interface sockets are
// closed when it goes.
struct NetSession {
  std::vector<NetInterface> interfaces;
  int32_t selectedInterface = -1;
  uint32_t sendCounter = 0;
  uint32_t receiveCounter = 0;
  uint8_t ownAddress[kHardwareAddressSize] = {};
  uint8_t peerAddress[kHardwareAddressSize] = {};
  std::unique_ptr<NetFileStream> currentFile;
  uint32_t broadcastCount = 0;
  uint64_t offerWait = 0;  // microseconds left of the wait for an offer

  NetSession() = default;
  NetSession(const NetSession&) = delete;
  NetSession& operator=(const NetSession&) = delete;
  ~NetSession();
};

// Stamps an outgoing datagram: the payload length, the next own sequence number (sendCounter
// goes up by one), receiveCounter as acknowledgement, ownAddress to peerAddress.
void FillHeader(NetSession& session, uint8_t* datagram, uint16_t payloadLength);

// Whether a received datagram of `length` bytes is the next one from the server, by the seven
// rules in order; when it is, receiveCounter takes its sequence number. A datagram shorter than
// a header has its header cleared in the buffer.
bool AcceptDatagram(NetSession& session, uint8_t* datagram, int length);

// The session's selected interface, or null while no server answered.
NetInterface* SelectedInterface(NetSession& session);
