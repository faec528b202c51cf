// The network installation's datagrams without a network: the bytes the client sends, the
// acceptance of what it receives and the reading of offers and file names.

#include <cstring>
#include <string>

#include "gtest/gtest.h"
#include "net/file_stream.h"
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

TEST(FillHeader, StampsTheRequestsByteForByte) {
  struct Case {
    std::string payload;
    std::string expected;
  };
  const Case cases[] = {
      {DiscoverPayload("", "", "Corvanta"), std::string("DSCV\n\n\nCorvanta\ni386\n\0", 22)},
      {DriverRequestPayload("5.10.0"), std::string("DRVR\n5.10.0\0", 12)},
      {std::string(kAcceptOffer), "YACK\n"},
      {std::string(kRequestData), "RETR"},
      {std::string(kStartInstallation), "STRT"},
      {std::string(kFarewell), "WTRM"},
  };
  for (const Case& c : cases) {
    NetSession session;
    memcpy(session.ownAddress, kOwn, 6);
    memcpy(session.peerAddress, kServer, 6);
    session.sendCounter = 0x1233;
    session.receiveCounter = 0x10007;  // 16 bits on the wire
    uint8_t datagram[kDatagramSize] = {};
    FillHeader(session, datagram, WritePayload(datagram, c.payload));
    std::string header = Bytes(kOwn, 6) + Bytes(kServer, 6) + std::string(2, '\0') +
                         char(c.expected.size()) + std::string("\0\x34\x12\x07\0", 5);
    EXPECT_EQ(Bytes(datagram, kDatagramHeaderSize + c.expected.size()), header + c.expected);
    EXPECT_EQ(session.sendCounter, 0x1234u);
  }
  EXPECT_EQ(kDatagramHeaderSize + DiscoverPayload("", "", "Corvanta").size(), 42u);
}

struct AcceptCase {
  const char* what;
  int length;  // received; -1: header plus payload
  const uint8_t* source;
  const uint8_t* destination;
  bool serverKnown;
  uint16_t payloadLength, sequence, acknowledgement;
  bool accepted;
};

TEST(AcceptDatagram, TakesOnlyTheServersNextDatagramForThisClient) {
  // The session has sent 3 datagrams and accepted 4.
  const AcceptCase cases[] = {
      {"the next one", -1, kServer, kOwn, true, 3, 5, 3, true},
      {"an older acknowledgement", -1, kServer, kOwn, true, 0, 5, 1, true},
      {"an offer before a server is known", -1, kServer, kOwn, false, 3, 5, 3, true},
      {"to everyone before a server is known", -1, kServer, kNobody, false, 3, 5, 3, true},
      {"shorter than a header", 19, kServer, kOwn, true, 0, 5, 3, false},
      {"a payload length that is not what came", 24, kServer, kOwn, true, 3, 5, 3, false},
      {"the own broadcast come back", -1, kOwn, kNobody, false, 3, 5, 3, false},
      {"for another client", -1, kServer, kOther, true, 3, 5, 3, false},
      {"to everyone once a server is known", -1, kServer, kNobody, true, 3, 5, 3, false},
      {"another server once bound", -1, kOther, kOwn, true, 3, 5, 3, false},
      {"acknowledging what was never sent", -1, kServer, kOwn, true, 3, 5, 4, false},
      {"a repeated answer", -1, kServer, kOwn, true, 3, 4, 3, false},
      {"an answer skipping one", -1, kServer, kOwn, true, 3, 6, 3, false},
  };
  for (const AcceptCase& c : cases) {
    NetSession session;
    memcpy(session.ownAddress, kOwn, 6);
    memcpy(session.peerAddress, c.serverKnown ? kServer : kNobody, 6);
    session.sendCounter = 3;
    session.receiveCounter = 4;
    uint8_t datagram[kDatagramSize] = {};
    DatagramHeader header;
    memcpy(header.source, c.source, 6);
    memcpy(header.destination, c.destination, 6);
    header.payloadLength = c.payloadLength;
    header.sequence = c.sequence;
    header.acknowledgement = c.acknowledgement;
    StoreDatagramHeader(datagram, header);
    int length = c.length < 0 ? kDatagramHeaderSize + c.payloadLength : c.length;
    EXPECT_EQ(AcceptDatagram(session, datagram, length), c.accepted) << c.what;
    EXPECT_EQ(session.receiveCounter, c.accepted ? c.sequence : 4u) << c.what;
    if (c.length >= 0 && c.length < kDatagramHeaderSize) {
      EXPECT_EQ(Bytes(datagram, kDatagramHeaderSize), std::string(kDatagramHeaderSize, '\0'))
          << c.what;
    }
  }
}

// The 16-bit number on the wire never catches up with a counter past 65535.
TEST(AcceptDatagram, EndsTheConversationAfter65535Datagrams) {
  NetSession session;
  memcpy(session.ownAddress, kOwn, 6);
  memcpy(session.peerAddress, kServer, 6);
  session.receiveCounter = 65535;
  uint8_t datagram[kDatagramSize] = {};
  DatagramHeader header;
  memcpy(header.source, kServer, 6);
  memcpy(header.destination, kOwn, 6);
  header.sequence = 0;
  StoreDatagramHeader(datagram, header);
  EXPECT_FALSE(AcceptDatagram(session, datagram, kDatagramHeaderSize));
}

TEST(ReadOffer, NeedsASecondLineOfAtMost512AndReadsKeep) {
  struct Case {
    std::string payload;
    bool read, keep;
  };
  const Case cases[] = {
      {"OFFR\n\n", true, false},
      {"OFFR\nrouter 7\nkeep\n", true, true},
      {"OFFR\n\nkeep", true, true},
      {"OFFR\n\nkeeps\n", true, false},
      {"OFFR\n" + std::string(512, 'i') + "\nkeep\n", true, true},
      {"OFFR\n" + std::string(513, 'i') + "\nkeep\n", false, false},
      {"OFFR\nno second line feed", false, false},
      {"OFFR", false, false},
  };
  for (const Case& c : cases) {
    uint8_t datagram[kDatagramSize] = {};
    DatagramHeader header;
    header.payloadLength = WritePayload(datagram, c.payload);
    StoreDatagramHeader(datagram, header);
    bool keep = false;
    EXPECT_EQ(ReadOffer(datagram, keep), c.read) << c.payload;
    EXPECT_EQ(keep, c.keep) << c.payload;
  }
}

TEST(UsableFileName, RefusesNamesThatLeaveTheFolderAndKeeps31Characters) {
  const std::pair<std::string, std::string> cases[] = {
      {"autorun.scr", "autorun.scr"},
      {"", ""},
      {".", ""},
      {"..", ""},
      {"/", ""},
      {"../etc.scr", ""},
      {"a/b.scr", ""},
      {"...", "..."},
      {std::string(31, 'n') + "/x", std::string(31, 'n')},
  };
  for (const auto& [announced, usable] : cases) {
    NetFileStream stream;
    memcpy(stream.name, announced.data(), announced.size());
    EXPECT_EQ(UsableFileName(stream), usable) << announced;
  }
}

}  // namespace
