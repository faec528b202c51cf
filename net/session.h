#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "net/acceptance.h"
#include "net/datagram.h"
#include "net/interfaces.h"

// The installer's protocol state of the network installation: its usable interfaces, the
// conversation with the server it talks to and the file being received.

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

// The whole client state; one per installation, owned by the flow. Its interfaces close their
// sockets when it goes.
struct NetSession : ClientConversation {
  std::vector<NetInterface> interfaces;
  int32_t selectedInterface = -1;
  std::unique_ptr<NetFileStream> currentFile;
  uint32_t broadcastCount = 0;
  uint64_t offerWait = 0;  // microseconds left of the wait for an offer

  NetSession() = default;
  NetSession(const NetSession&) = delete;
  NetSession& operator=(const NetSession&) = delete;
};

// Whether a received datagram of `length` bytes is the next one from the server (JudgeDatagram
// accepts it). A datagram shorter than a header has its header cleared in the buffer.
bool AcceptDatagram(NetSession& session, uint8_t* datagram, int length);

// The session's selected interface, or null while no server answered.
NetInterface* SelectedInterface(NetSession& session);
