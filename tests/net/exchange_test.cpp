// The client's side of the network installation over a real veth link between two namespaces
// of the test's own making, against a peer that answers as each test scripts it.

#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "net/exchange.h"

#include "gtest/gtest.h"
#include "net/file_stream.h"
#include "net/interfaces.h"
#include "net/messages.h"
#include "net/timings.h"
#include "tests/support/net_namespace.h"
#include "tests/support/scripted_peer.h"

namespace {

const uint8_t kClient[6] = {2, 0, 0, 0, 0, 0x0a};

class NetProtocol : public testing::Test {
 protected:
  void SetUp() override {
    if (getuid() != 0) {
      GTEST_SKIP() << "needs root for network namespaces";
    }
    link_ = std::make_unique<VethLink>("np");
    ASSERT_TRUE(link_->Ready());
    ASSERT_EQ(link_->RunIn(link_->Left(), "ip link set eth0 address 02:00:00:00:00:0a"), 0);
    peer_ = std::make_unique<ScriptedPeer>(link_->Right());
    ASSERT_TRUE(peer_->Ready());
    NamespaceVisit visit(link_->Left());
    ASSERT_TRUE(visit.Entered());  // never the host's interfaces
    ScanInterfaces(session_.interfaces);
    ASSERT_EQ(session_.interfaces.size(), 1u);
  }

  // The state after an accepted offer from the peer.
  void Bind() {
    session_.selectedInterface = 0;
    memcpy(session_.ownAddress, kClient, 6);
    memcpy(session_.peerAddress, peer_->Address(), 6);
  }

  // Reads the whole current file in pieces of `piece` bytes; "<-1>" where ReadFileData failed.
  std::string ReadAll(size_t piece) {
    std::string data;
    uint8_t block[kDatagramSize];
    for (int count; (count = ReadFileData(*session_.currentFile, block, piece)) != 0;) {
      if (count < 0) {
        return data + "<-1>";
      }
      data.append(reinterpret_cast<char*>(block), count);
    }
    return data;
  }

  std::unique_ptr<VethLink> link_;
  std::unique_ptr<ScriptedPeer> peer_;
  NetSession session_;
};

// Only what the network adds to the acceptance rules: the own broadcast comes back, and a
// datagram from another port is passed over.
TEST_F(NetProtocol, WaitForOfferTakesAnOfferFromPort5000) {
  for (bool wrongPort : {true, false}) {
    uint8_t datagram[kDatagramSize] = {};
    BroadcastRequest(session_, datagram, WritePayload(datagram, kAcceptOffer));
    ASSERT_TRUE(peer_->Queue({"OFFR\n\n"}, kClient, wrongPort));
    session_.offerWait = 200000;
    uint8_t offer[kDatagramSize];
    EXPECT_EQ(WaitForOffer(session_, offer, kOfferWord), !wrongPort);
    EXPECT_EQ(session_.selectedInterface, wrongPort ? -1 : 0);
  }
  EXPECT_EQ(memcmp(session_.peerAddress, peer_->Address(), 6), 0);
  EXPECT_EQ(session_.receiveCounter, 1u);
}

// The scan raises the interface (promiscuous, to hear broadcasts) and passes over loopback.
TEST_F(NetProtocol, BroadcastsScanTheInterfacesAgainEverySixtieth) {
  EXPECT_EQ(std::string(session_.interfaces[0].hardwareAddress,
                        session_.interfaces[0].hardwareAddress + 6),
            std::string(kClient, kClient + 6));
  EXPECT_EQ(link_->RunIn(link_->Left(), "ip link show eth0 | grep -q PROMISC"), 0);
  session_.interfaces.clear();
  session_.broadcastCount = kBroadcastsPerScan - 2;
  NamespaceVisit visit(link_->Left());
  ASSERT_TRUE(visit.Entered());
  uint8_t datagram[kDatagramSize] = {};
  BroadcastRequest(session_, datagram, 4);
  EXPECT_TRUE(session_.interfaces.empty());
  BroadcastRequest(session_, datagram, 4);
  EXPECT_EQ(session_.interfaces.size(), 1u);
  EXPECT_EQ(session_.broadcastCount, 0u);
}

TEST_F(NetProtocol, ExchangeRepeatsTheSameRequestUntilItsAttemptsRunOut) {
  Bind();
  uint8_t request[kDatagramSize] = {};
  StampRequest(session_, request, WritePayload(request, kStartInstallation));
  uint8_t reply[kDatagramSize];
  EXPECT_EQ(Exchange(session_.interfaces[0], session_, request, reply, 20000, 3), -1);
  std::vector<PeerRequest> requests = peer_->Requests();
  ASSERT_EQ(requests.size(), 3u);
  for (const PeerRequest& r : requests) {
    EXPECT_EQ(r.payload, "STRT");
    EXPECT_EQ(r.sequence, 1);
  }
}

TEST_F(NetProtocol, FileHeadersAndEndsAsTheServerSendsThem) {
  struct Case {
    std::vector<std::string> replies;
    FileHeader header;
    std::string name, data;
  };
  const Case cases[] = {
      {{{"FILE\nempty.scr\n0\n"}, {""}}, FileHeader::kOpened, "empty.scr", ""},
      {{{"FILE\n" + std::string(90, 'n') + "\n1\n"}, {"x"}, {""}},
       FileHeader::kOpened,
       std::string(80, 'n'),
       "x"},
      {{{"FILE\nshort\n6\n"}, {"abc"}, {""}}, FileHeader::kOpened, "short", "abc<-1>"},
      {{{"FILE\nlonger\n2\n"}, {"abc"}, {""}}, FileHeader::kOpened, "longer", "abc"},
      {{{"DONE"}}, FileHeader::kNone, "", ""},
  };
  for (const Case& c : cases) {
    Bind();
    session_.sendCounter = 0;
    session_.receiveCounter = 0;
    ASSERT_TRUE(peer_->Queue(c.replies, kClient));
    FileHeader header = OpenNextFile(ReplaceCurrentFile(session_));
    EXPECT_EQ(header, c.header) << c.replies[0];
    EXPECT_EQ(session_.currentFile->name, c.name);
    if (header == FileHeader::kOpened) {
      EXPECT_EQ(ReadAll(4096), c.data) << c.name;
    }
  }
  // Silence is no end of the list: the flow must tell the two apart.
  EXPECT_EQ(ReadFileHeader(*session_.currentFile, -1), FileHeader::kNoReply);
}

}  // namespace
