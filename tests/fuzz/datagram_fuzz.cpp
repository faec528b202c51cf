// What the installer does with datagrams from the network: the acceptance test, the offer and
// the FILE header. A run is a conversation: the input is cut into datagrams, each taken in turn
// by a session that has already broadcast and, after an accepted offer, knows its server.
//
// Input: datagrams (see ForEachDatagram).

#include <cstdint>
#include <cstring>

#include "net/datagram.h"
#include "net/file_stream.h"
#include "net/messages.h"
#include "net/session.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

const uint8_t kOwnAddress[kHardwareAddressSize] = {2, 0, 0, 0, 0, 1};

// The checks on one datagram that the session accepted.
void CheckAccepted(NetSession& session, uint8_t* datagram, int length) {
  DatagramHeader header = LoadDatagramHeader(datagram);
  Require(header.payloadLength == length - kDatagramHeaderSize, "the length field is the length");
  Require(memcmp(header.source, kOwnAddress, kHardwareAddressSize) != 0, "not our own datagram");
  Require(session.receiveCounter == header.sequence, "the counter takes the sequence number");
  Require(header.acknowledgement <= session.sendCounter, "nothing unsent is acknowledged");
  Offer offer;
  if (IsZeroAddress(session.peerAddress) && PayloadBegins(datagram, kOfferWord) &&
      ReadOffer(PayloadText(datagram), offer)) {
    Require(offer.profile.size() <= 512, "an offered profile line fits what the server may send");
    memcpy(session.peerAddress, header.source, kHardwareAddressSize);
  }
  NetFileStream stream;
  memcpy(stream.buffer, datagram, kDatagramSize);
  if (ReadFileHeader(stream, header.payloadLength) == FileHeader::kOpened) {
    Require(strlen(stream.name) <= 80, "the name fits its field");
    Require(stream.size >= 0, "an opened file has a size of at least 0");
  }
  std::string name = UsableFileName(stream);
  Require(name.find('/') == name.npos && name != "." && name != "..", "a usable name is plain");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  NetSession session;
  memcpy(session.ownAddress, kOwnAddress, kHardwareAddressSize);
  session.sendCounter = 1;  // the broadcast went out
  ForEachDatagram({data, size}, [&](uint8_t* datagram, int length) {
    uint32_t before = session.receiveCounter;
    if (AcceptDatagram(session, datagram, length)) {
      Require(session.receiveCounter == before + 1, "one step at a time");
      CheckAccepted(session, datagram, length);
      ++session.sendCounter;  // the next request
    } else {
      Require(session.receiveCounter == before, "a refused datagram changes no counter");
    }
  });
  return 0;
}
