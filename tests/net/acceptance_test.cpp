// The acceptance rules and the stamping of requests, which the installer and install-load share:
// the bytes a client sends and the verdict on each datagram it receives.

#include "net/acceptance.h"

#include <cstring>
#include <string>

#include "gtest/gtest.h"
#include "net/messages.h"
#include "net/session.h"

namespace {

const uint8_t kOwn[6] = {2, 0, 0, 0, 0, 1};
const uint8_t kServer[6] = {2, 0, 0, 0, 0, 2};
const uint8_t kOther[6] = {2, 0, 0, 0, 0, 3};
const uint8_t kNobody[6] = {};

std::string Bytes(const uint8_t* data, size_t length) {
  return std::string(reinterpret_cast<const char*>(data), length);
}

// A conversation of kOwn that has sent 3 datagrams and accepted `received`.
ClientConversation Conversation(const uint8_t* peer, uint32_t received) {
  ClientConversation conversation;
  memcpy(conversation.ownAddress, kOwn, 6);
  memcpy(conversation.peerAddress, peer, 6);
  conversation.sendCounter = 3;
  conversation.receiveCounter = received;
  return conversation;
}

// Writes a header with these fields at the start of `datagram`.
void Store(uint8_t* datagram, const uint8_t* source, const uint8_t* destination,
           uint16_t payloadLength, uint16_t sequence, uint16_t acknowledgement = 0) {
  DatagramHeader header;
  memcpy(header.source, source, 6);
  memcpy(header.destination, destination, 6);
  header.payloadLength = payloadLength;
  header.sequence = sequence;
  header.acknowledgement = acknowledgement;
  StoreDatagramHeader(datagram, header);
}

TEST(StampRequest, StampsTheRequestsByteForByte) {
  const std::pair<std::string, std::string> cases[] = {
      {DiscoverPayload("", "", "Corvanta"), std::string("DSCV\n\n\nCorvanta\ni386\n\0", 22)},
      {DriverRequestPayload("5.10.0"), std::string("DRVR\n5.10.0\0", 12)},
      {std::string(kAcceptOffer), "YACK\n"},
      {std::string(kRequestData), "RETR"},
      {std::string(kStartInstallation), "STRT"},
      {std::string(kFarewell), "WTRM"},
  };
  for (const auto& [payload, expected] : cases) {
    ClientConversation conversation = Conversation(kServer, 0x10007);  // 16 bits on the wire
    conversation.sendCounter = 0x1233;
    uint8_t datagram[kDatagramSize] = {};
    StampRequest(conversation, datagram, WritePayload(datagram, payload));
    std::string header = Bytes(kOwn, 6) + Bytes(kServer, 6) + std::string(2, '\0') +
                         char(expected.size()) + std::string("\0\x34\x12\x07\0", 5);
    EXPECT_EQ(Bytes(datagram, kDatagramHeaderSize + expected.size()), header + expected);
    EXPECT_EQ(conversation.sendCounter, 0x1234u);
  }
}

// After 4 accepted datagrams (or 65535: the 16-bit number on the wire can never be the next).
TEST(JudgeDatagram, TakesOnlyTheServersNextDatagramForThisClient) {
  const struct {
    const char* what;
    int length;  // received; -1: header plus payload
    const uint8_t *source, *destination;
    bool serverKnown;
    uint16_t payloadLength, sequence, acknowledgement;
    Verdict verdict;
    uint32_t received = 4;
  } cases[] = {
      {"the next one", -1, kServer, kOwn, true, 3, 5, 3, Verdict::kAccepted},
      {"an older acknowledgement", -1, kServer, kOwn, true, 0, 5, 1, Verdict::kAccepted},
      {"an offer before a server is known", -1, kServer, kOwn, false, 3, 5, 3, Verdict::kAccepted},
      {"to everyone before a server is known", -1, kServer, kNobody, false, 3, 5, 3,
       Verdict::kAccepted},
      {"shorter than a header", 19, kServer, kOwn, true, 0, 5, 3, Verdict::kRefused},
      {"a payload length that is not what came", 24, kServer, kOwn, true, 3, 5, 3,
       Verdict::kRefused},
      {"the own broadcast come back", -1, kOwn, kNobody, false, 3, 5, 3, Verdict::kRefused},
      {"for another client", -1, kServer, kOther, true, 3, 5, 3, Verdict::kRefused},
      {"to everyone once a server is known", -1, kServer, kNobody, true, 3, 5, 3,
       Verdict::kRefused},
      {"another server once bound", -1, kOther, kOwn, true, 3, 5, 3, Verdict::kRefused},
      {"acknowledging what was never sent", -1, kServer, kOwn, true, 3, 5, 4, Verdict::kRefused},
      {"a repeated answer", -1, kServer, kOwn, true, 3, 4, 3, Verdict::kRepeated},
      {"an older answer", -1, kServer, kOwn, true, 3, 3, 3, Verdict::kRefused},
      {"an answer skipping one", -1, kServer, kOwn, true, 3, 6, 3, Verdict::kRefused},
      {"past 65535", -1, kServer, kOwn, true, 0, 0, 3, Verdict::kRefused, 65535},
  };
  for (const auto& c : cases) {
    ClientConversation conversation = Conversation(c.serverKnown ? kServer : kNobody, c.received);
    uint8_t datagram[kDatagramSize] = {};
    Store(datagram, c.source, c.destination, c.payloadLength, c.sequence, c.acknowledgement);
    int length = c.length < 0 ? kDatagramHeaderSize + c.payloadLength : c.length;
    EXPECT_EQ(JudgeDatagram(conversation, datagram, length), c.verdict) << c.what;
    bool accepted = c.verdict == Verdict::kAccepted;
    EXPECT_EQ(conversation.receiveCounter, accepted ? c.sequence : c.received) << c.what;
  }
}

// An offer is judged as the first datagram of a new conversation and binds its sender.
TEST(TakeOffer, TakesAnAddressedOfferWithItsWordAndBindsTheServer) {
  const struct {
    const char* what;
    const uint8_t* destination;
    std::string payload;
    uint16_t sequence;
    bool taken;
  } cases[] = {
      {"an offer", kOwn, "OFFR\n\n", 1, true},
      {"to everyone", kNobody, "OFFR\n\n", 1, false},
      {"an empty payload", kOwn, "", 1, false},
      {"another word", kOwn, "OFDR\n", 1, false},
      {"not the first of a conversation", kOwn, "OFFR\n\n", 2, false},
  };
  for (const auto& c : cases) {
    // The server of an earlier conversation is forgotten by the offer's new one.
    ClientConversation conversation = Conversation(kOther, 7);
    uint8_t datagram[kDatagramSize] = {};
    uint16_t payloadLength = WritePayload(datagram, c.payload);
    Store(datagram, kServer, c.destination, payloadLength, c.sequence);
    int length = kDatagramHeaderSize + payloadLength;
    EXPECT_EQ(TakeOffer(conversation, datagram, length, c.payload.empty() ? "" : "OFFR"), c.taken)
        << c.what;
    EXPECT_EQ(Bytes(conversation.peerAddress, 6), Bytes(c.taken ? kServer : kNobody, 6)) << c.what;
    EXPECT_EQ(conversation.sendCounter, 0u) << c.what;
  }
}

// The installer's buffer then holds no header of an earlier datagram that a later step could read.
TEST(AcceptDatagram, ClearsTheHeaderOfAShortDatagram) {
  NetSession session;
  uint8_t datagram[kDatagramSize];
  memset(datagram, 0xff, sizeof datagram);
  EXPECT_FALSE(AcceptDatagram(session, datagram, kDatagramHeaderSize - 1));
  EXPECT_EQ(Bytes(datagram, kDatagramHeaderSize), std::string(kDatagramHeaderSize, '\0'));
}

}  // namespace
