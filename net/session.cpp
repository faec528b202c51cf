#include "net/session.h"

#include <cstring>

#include "net/interfaces.h"

NetSession::~NetSession() {
  CloseInterfaces(*this);
}

void FillHeader(NetSession& session, uint8_t* datagram, uint16_t payloadLength) {
  DatagramHeader header;
  header.payloadLength = payloadLength;
  header.sequence = uint16_t(++session.sendCounter);
  header.acknowledgement = uint16_t(session.receiveCounter);
  memcpy(header.source, session.ownAddress, kHardwareAddressSize);
  memcpy(header.destination, session.peerAddress, kHardwareAddressSize);
  StoreDatagramHeader(datagram, header);
}

namespace {

bool SameAddress(const uint8_t* left, const uint8_t* right) {
  return memcmp(left, right, kHardwareAddressSize) == 0;
}

// Rules 2 to 7 on a datagram that holds a whole header. The counters are compared at their full
// width, so a 16-bit number on the wire never matches once receiveCounter reached 65535.
bool PassesRules(const NetSession& session, const DatagramHeader& header, int length) {
  bool serverKnown = !IsZeroAddress(session.peerAddress);
  if (header.payloadLength != length - kDatagramHeaderSize) {
    return false;
  }
  if (SameAddress(header.source, session.ownAddress)) {
    return false;
  }
  if (IsZeroAddress(header.destination) ? serverKnown
                                        : !SameAddress(header.destination, session.ownAddress)) {
    return false;
  }
  if (serverKnown && !SameAddress(header.source, session.peerAddress)) {
    return false;
  }
  return header.acknowledgement <= session.sendCounter &&
         header.sequence == uint64_t(session.receiveCounter) + 1;
}

}  // namespace

bool AcceptDatagram(NetSession& session, uint8_t* datagram, int length) {
  if (length < kDatagramHeaderSize) {
    memset(datagram, 0, kDatagramHeaderSize);
    return false;
  }
  DatagramHeader header = LoadDatagramHeader(datagram);
  if (!PassesRules(session, header, length)) {
    return false;
  }
  session.receiveCounter = header.sequence;
  return true;
}

NetInterface* SelectedInterface(NetSession& session) {
  int32_t index = session.selectedInterface;
  if (index < 0 || size_t(index) >= session.interfaces.size()) {
    return nullptr;
  }
  return &session.interfaces[index];
}
