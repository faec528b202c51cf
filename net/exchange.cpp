#include "net/exchange.h"

#include <poll.h>

#include <cstring>
#include <vector>

#include "net/interfaces.h"
#include "net/timings.h"
#include "platform/pending_interrupt.h"
#include "platform/platform.h"

namespace {

void StartConversation(NetSession& session) {
  session.offerWait = kOfferWait;
  session.selectedInterface = -1;
  RestartConversation(session);
}

// Receives everything waiting on the interface; true at the first offer, which then binds the
// session to this interface and its sender. Every candidate is judged as the first datagram of a
// new conversation on the interface's address.
bool OfferOnInterface(NetSession& session, size_t index, uint8_t* buffer, std::string_view word) {
  NetInterface& interface = session.interfaces[index];
  for (int length = ReceiveDatagram(interface, buffer); length >= 0;
       length = ReceiveDatagram(interface, buffer)) {
    memcpy(session.ownAddress, interface.hardwareAddress, kHardwareAddressSize);
    if (TakeOffer(session, buffer, length, word)) {
      session.selectedInterface = int32_t(index);
      return true;
    }
  }
  return false;
}

}  // namespace

void BroadcastRequest(NetSession& session, uint8_t* datagram, uint16_t payloadLength) {
  if (++session.broadcastCount == kBroadcastsPerScan) {
    ScanInterfaces(session.interfaces);
    session.broadcastCount = 0;
  }
  StartConversation(session);
  for (const NetInterface& interface : session.interfaces) {
    memcpy(session.ownAddress, interface.hardwareAddress, kHardwareAddressSize);
    StampRequest(session, datagram, payloadLength);
    session.sendCounter = 0;
    session.receiveCounter = 0;
    if (!SendDatagram(interface, datagram)) {
      break;
    }
  }
}

bool WaitForOffer(NetSession& session, uint8_t* buffer, std::string_view word) {
  if (session.interfaces.empty()) {
    // Nothing to listen on: the wait is only time passing.
    if (SleepMicroseconds(session.offerWait) != 0) {
      CarryOutPendingInterrupt();
    }
    session.offerWait = 0;
    return false;
  }
  std::vector<pollfd> sockets;
  for (const NetInterface& interface : session.interfaces) {
    sockets.push_back(pollfd{interface.socket, POLLIN, 0});
  }
  while (WaitReadable(sockets.data(), sockets.size(), session.offerWait)) {
    for (size_t i = 0; i < sockets.size(); ++i) {
      if (sockets[i].revents != 0 && OfferOnInterface(session, i, buffer, word)) {
        return true;
      }
    }
  }
  return false;
}

int Exchange(NetInterface& interface, NetSession& session, const uint8_t* request, uint8_t* reply,
             uint64_t microsecondsPerAttempt, int attempts) {
  pollfd socket{interface.socket, POLLIN, 0};
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (!SendDatagram(interface, request)) {
      return -1;
    }
    uint64_t left = microsecondsPerAttempt;
    while (WaitReadable(&socket, 1, left)) {
      int length = ReceiveDatagram(interface, reply);
      if (length >= 0 && AcceptDatagram(session, reply, length)) {
        return length;
      }
    }
  }
  return -1;
}
