// install-server against virtual routers over a real veth link between two namespaces.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <thread>

#include "tests/support/net_namespace.h"
#include "tests/support/test_files.h"
#include "tools/install-load/load_client.h"
#include "tools/install-server/hardware_address.h"
#include "tools/install-server/server_loop.h"

namespace {

// Bytes that differ from block to block, so that a block sent twice or skipped shows.
std::string Pattern(size_t size, unsigned seed) {
  std::string bytes(size, 0);
  for (size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245 + 12345;
    bytes[i] = char(seed >> 16);
  }
  return bytes;
}

class InstallServerNetworkTest : public testing::Test {
 protected:
  InstallServerNetworkTest() : link("srv") {
    mkdir((dir / "served").c_str(), 0755);
    mkdir((dir / "served/drivers").c_str(), 0755);
    mkdir((dir / "served/packages").c_str(), 0755);
    mkdir((dir / "out").c_str(), 0755);
    const std::pair<const char*, std::string> files[] = {
        {"drivers/default.vpk", Pattern(5000, 1)}, {"drivers/5.10.0-test.vpk", Pattern(9000, 2)},
        {"packages/base.vpk", Pattern(200000, 3)}, {"packages/lab.vpk", Pattern(8152, 4)},
        {"packages/site.scr", "hostname r1\n"},    {"packages/empty.scr", ""},
    };
    for (const auto& [name, content] : files) {
      WriteTestFile(dir / ("served/" + std::string(name)), content);
    }
    WriteTestFile(dir / "profiles",
                  "profile default erase base.vpk site.scr\n"
                  "profile lab keep lab.vpk empty.scr base.vpk\n"
                  "router 02:00:00:00:00:02 lab\n");
  }

  ~InstallServerNetworkTest() override {
    StopServer();
    serverStopRequested = false;
    CloseServer(&server);
    if (server.log != stdout) {
      fclose(server.log);
    }
  }

  // Starts the server in the left namespace, answering every duplicateEvery-th time twice.
  void StartServer(int duplicateEvery = 0) {
    ASSERT_TRUE(link.Ready());
    ASSERT_TRUE(LoadServedDirectory(dir / "served", dir / "profiles", &served));
    ServerInterface interface;
    {
      NamespaceVisit visit(link.Left());
      ASSERT_TRUE(visit.Entered());
      ASSERT_TRUE(OpenServerInterface(VethLink::kLeftInterface, &interface));
    }
    server.served = &served;
    server.interfaces.push_back(interface);
    server.duplicateEvery = duplicateEvery;
    server.log = tmpfile();
    serving = std::thread([this] { ServeRouters(&server); });
  }

  // Waits for the server to finish the datagram in hand and stop: it logs a router's summary only
  // after sending the TERM that ends the router's run.
  void StopServer() {
    serverStopRequested = true;
    if (serving.joinable()) {
      serving.join();
    }
  }

  std::vector<LoadResult> RunRouters(int clients, const std::string& release) {
    LoadOptions options;
    options.interface = VethLink::kRightInterface;
    options.clients = clients;
    options.release = release;
    options.output = dir / "out";
    options.giveUpSeconds = 60;
    std::vector<LoadResult> results;
    NamespaceVisit visit(link.Right());
    EXPECT_TRUE(visit.Entered());
    EXPECT_TRUE(RunLoadClients(options, &results));
    return results;
  }

  // The files a router received, in order, each checked byte for byte against the served one.
  std::vector<std::string> ReceivedFiles(const LoadResult& result) {
    std::vector<std::string> names;
    std::string address = HardwareAddressText(result.address);
    for (const LoadFile& file : result.files) {
      names.push_back(file.name);
      EXPECT_EQ(file.received, file.size) << address << " " << file.name;
      EXPECT_TRUE(ReadWholeTestFile(dir / ("out/" + address + "/" + file.name)) ==
                  ReadWholeTestFile(dir / ("served/packages/" + file.name)))
          << address << " " << file.name;
    }
    return names;
  }

  // The log of a stopped server.
  std::string ServerLog() {
    StopServer();
    fflush(server.log);
    rewind(server.log);
    std::string text;
    char block[4096];
    while (size_t got = fread(block, 1, sizeof block, server.log)) {
      text.append(block, got);
    }
    return text;
  }

  TemporaryDirectory dir;
  VethLink link;
  ServedDirectory served;
  InstallServer server;
  std::thread serving;
};

// Drivers by kernel release, the profile by address with its keep choice, every file whole;
// the identity and the summary of each router are logged.
TEST_F(InstallServerNetworkTest, ServesDriversAndEachRoutersProfile) {
  StartServer();
  std::vector<LoadResult> results = RunRouters(2, "5.10.0-test");
  ASSERT_EQ(results.size(), 2u);
  for (const LoadResult& result : results) {
    ASSERT_TRUE(result.finished) << result.failure;
    std::string driver = dir / ("out/" + HardwareAddressText(result.address) + "/driver");
    EXPECT_EQ(result.driverName, "5.10.0-test.vpk");
    EXPECT_TRUE(ReadWholeTestFile(driver + "/5.10.0-test.vpk") ==
                ReadWholeTestFile(dir / "served/drivers/5.10.0-test.vpk"));
  }
  EXPECT_EQ(results[0].offerLine, "default");
  EXPECT_FALSE(results[0].keep);
  EXPECT_EQ(ReceivedFiles(results[0]), (std::vector<std::string>{"base.vpk", "site.scr"}));
  EXPECT_EQ(results[1].offerLine, "lab");
  EXPECT_TRUE(results[1].keep);
  EXPECT_EQ(ReceivedFiles(results[1]),
            (std::vector<std::string>{"lab.vpk", "empty.scr", "base.vpk"}));
  EXPECT_EQ(RunRouters(1, "6.0-other")[0].driverName, "default.vpk");
  std::string log = ServerLog();
  EXPECT_NE(log.find("02:00:00:00:00:02 says: identity \"\" \"\", label \"Corvanta\", "
                     "architecture \"i386\""),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("02:00:00:00:00:02 finished: profile lab, 3 files, 208152 bytes"),
            std::string::npos)
      << log;
}

// With a tenth of the datagrams dropped each way and some answers sent twice, every file still
// arrives whole: lost answers are repeated on request, doubled ones refused.
TEST_F(InstallServerNetworkTest, CompletesThroughLossAndDuplicates) {
  const std::string drop =
      "nft add table inet loss && nft \"add chain inet loss out { type filter hook output "
      "priority 0 ; }\" && nft add rule inet loss out udp dport 5000 numgen random mod 10 == 0 "
      "drop";
  ASSERT_EQ(link.RunIn(link.Left(), drop), 0);
  ASSERT_EQ(link.RunIn(link.Right(), drop), 0);
  StartServer(5);
  std::vector<LoadResult> results = RunRouters(2, "");
  uint32_t refused = 0;
  for (const LoadResult& result : results) {
    ASSERT_TRUE(result.finished) << result.failure;
    refused += result.refusedRepeats;
  }
  EXPECT_EQ(ReceivedFiles(results[1]),
            (std::vector<std::string>{"lab.vpk", "empty.scr", "base.vpk"}));
  EXPECT_EQ(ReceivedFiles(results[0]), (std::vector<std::string>{"base.vpk", "site.scr"}));
  EXPECT_GT(refused, 0u);
  StopServer();
  uint32_t repeated = 0;
  for (const auto& [address, session] : server.routers) {
    repeated += session->repeatedAnswers;
  }
  EXPECT_GT(repeated, 0u);
}

// Many routers at once, each with its own counters, all get their whole profile.
TEST_F(InstallServerNetworkTest, ServesManyRoutersAtOnce) {
  StartServer();
  std::vector<LoadResult> results = RunRouters(24, "");
  ASSERT_EQ(results.size(), 24u);
  for (size_t i = 0; i < results.size(); ++i) {
    ASSERT_TRUE(results[i].finished) << i << " " << results[i].failure;
    EXPECT_EQ(ReceivedFiles(results[i]).size(), i == 1 ? 3u : 2u) << i;
  }
}

// A flood of discoveries from invented addresses fills the table of conversations only up to its
// limit, and a router that keeps speaking is not the one forgotten. No sockets: answers go nowhere.
TEST_F(InstallServerNetworkTest, FloodOfInventedRoutersForgetsTheSilentOnes) {
  ASSERT_TRUE(LoadServedDirectory(dir / "served", dir / "profiles", &served));
  server.served = &served;
  server.interfaces.push_back(ServerInterface{"none", {2, 0, 0, 0, 0, 1}, -1});
  server.log = tmpfile();
  auto discover = [&](uint32_t router) {
    DatagramHeader header;
    header.source[0] = 2;
    memcpy(header.source + 2, &router, sizeof router);
    header.payloadLength = 4;
    header.sequence = 1;
    uint8_t datagram[kDatagramSize] = {};
    StoreDatagramHeader(datagram, header);
    memcpy(datagram + kDatagramHeaderSize, "DSCV", 4);
    HandleDatagram(&server, 0, datagram, kDatagramHeaderSize + 4);
  };
  const uint32_t kept = 7;
  for (uint32_t router = 100; router < 100 + 2 * kMaxRouterSessions; ++router) {
    discover(router);
    if (router % 1000 == 0) {
      discover(kept);  // a router repeats its discovery until an offer reaches it
    }
  }
  EXPECT_EQ(server.routers.size(), kMaxRouterSessions);
  auto known = [&](uint32_t router) {
    uint8_t address[kHardwareAddressSize] = {2, 0};
    memcpy(address + 2, &router, sizeof router);
    return server.routers.count(PackHardwareAddress(address)) == 1;
  };
  EXPECT_TRUE(known(kept));
  EXPECT_FALSE(known(100));
  EXPECT_TRUE(known(100 + 2 * kMaxRouterSessions - 1));
}

}  // namespace
