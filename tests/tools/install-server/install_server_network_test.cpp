// install-server against virtual routers over a real veth link between two namespaces.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>

#include "net/hardware_address.h"
#include "platform/platform.h"
#include "tests/support/net_namespace.h"
#include "tests/support/test_files.h"
#include "tools/install-load/load_client.h"
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
    for (const char* folder : {"served", "served/drivers", "served/packages", "out"}) {
      mkdir((dir / folder).c_str(), 0755);
    }
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
    CloseServer(server);
    if (server.log != stdout) {
      fclose(server.log);
    }
    if (server.events != nullptr) {
      fclose(server.events);
    }
  }

  // The served directory loaded for the server, which logs to a file of the test's.
  void LoadServed() {
    ASSERT_TRUE(
        LoadServedDirectory(dir / "served", dir / "profiles", DefaultDrivers::kRequired, served));
    server.served = &served;
    server.log = fopen((dir / "log").c_str(), "w");
  }

  // Starts the server in the left namespace, answering every duplicateEvery-th time twice.
  void StartServer(int duplicateEvery = 0) {
    ASSERT_TRUE(link.Ready());
    LoadServed();
    ServerInterface interface;
    {
      NamespaceVisit visit(link.Left());
      ASSERT_TRUE(visit.Entered());
      ASSERT_TRUE(OpenServerInterface(VethLink::kLeftInterface, interface));
    }
    server.interfaces.push_back(interface);
    server.duplicateEvery = duplicateEvery;
    serving = std::thread([this] { ServeRouters(server); });
  }

  // Waits for the server to finish the datagram in hand and stop: it logs a router's summary only
  // after sending the TERM that ends the router's run.
  void StopServer() {
    serverStopRequested = true;
    if (serving.joinable()) {
      serving.join();
    }
  }

  std::vector<LoadResult> RunRouters(int clients, const std::string& release, bool keep = true) {
    LoadOptions options;
    options.interface = VethLink::kRightInterface;
    options.clients = clients;
    options.release = release;
    options.output = keep ? dir / "out" : "";
    options.giveUpSeconds = 60;
    std::vector<LoadResult> results;
    NamespaceVisit visit(link.Right());
    EXPECT_TRUE(visit.Entered());
    EXPECT_TRUE(RunLoadClients(options, results));
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
    return ReadWholeTestFile(dir / "log");
  }

  TemporaryDirectory dir;
  VethLink link;
  ServedDirectory served;
  InstallServer server;
  std::thread serving;
};

// Drivers by kernel release, the profile by address with its keep choice, every file whole; the
// log and the events of a router's whole installation.
TEST_F(InstallServerNetworkTest, ServesDriversAndEachRoutersProfile) {
  server.events = fopen((dir / "events").c_str(), "w");
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
  std::string log = ServerLog();
  EXPECT_NE(log.find("02:00:00:00:00:02 says: identity \"\" \"\", label \"Corvanta\", "
                     "architecture \"i386\""),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("02:00:00:00:00:02 finished: profile lab, 3 files, 208152 bytes"),
            std::string::npos)
      << log;
  fflush(server.events);
  const std::string fields =
      "[.event, .conversation, .profile, .keep, .interface, .identity1, .label, .architecture, "
      ".file, .size, .bytes, .files, .repeated, (.time|type), (.seconds|type)] | "
      "map(if . == null then \"-\" else tostring end) | join(\" \")";
  ASSERT_EQ(std::system(("jq -r 'select(.router == \"02:00:00:00:00:02\") | " + fields + "' " +
                         (dir / "events") + " > " + (dir / "parsed"))
                            .c_str()),
            0);
  EXPECT_EQ(ReadWholeTestFile(dir / "parsed"),
            "bound drivers drivers false eth0 - - - - - - - - number null\n"
            "file-started - - - - - - - 5.10.0-test.vpk 9000 - - - number null\n"
            "file-done - - - - - - - 5.10.0-test.vpk - 9000 - - number number\n"
            "finished drivers drivers - - - - - - - 9000 1 0 number number\n"
            "identity - - - -  Corvanta i386 - - - - - number null\n"
            "bound installation lab true eth0 - - - - - - - - number null\n"
            "file-started - - - - - - - lab.vpk 8152 - - - number null\n"
            "file-done - - - - - - - lab.vpk - 8152 - - number number\n"
            "file-started - - - - - - - empty.scr 0 - - - number null\n"
            "file-done - - - - - - - empty.scr - 0 - - number number\n"
            "file-started - - - - - - - base.vpk 200000 - - - number null\n"
            "file-done - - - - - - - base.vpk - 200000 - - number number\n"
            "finished installation lab - - - - - - - 208152 3 0 number number\n");
}

// Many routers through loss and doubled answers. With 64 descriptors a router's file used to fail
// to open in silence and the router reported an installation of nothing.
TEST_F(InstallServerNetworkTest, ServesManyRoutersThroughLossWithFewDescriptors) {
  const std::string drop =
      "nft add table inet loss && nft \"add chain inet loss out { type filter hook output "
      "priority 0 ; }\" && nft add rule inet loss out udp dport 5000 numgen random mod 10 == 0 "
      "drop";
  ASSERT_EQ(link.RunIn(link.Left(), drop), 0);
  ASSERT_EQ(link.RunIn(link.Right(), drop), 0);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit few = saved;
  few.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &few), 0);
  StartServer(5);
  std::vector<LoadResult> results = RunRouters(40, "", false);
  StopServer();
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
  ASSERT_EQ(results.size(), 40u);
  uint32_t refused = 0, repeated = 0;
  for (size_t i = 0; i < results.size(); ++i) {
    ASSERT_TRUE(results[i].finished) << i << " " << results[i].failure;
    EXPECT_EQ(results[i].files.size(), i == 1 ? 3u : 2u) << i;
    EXPECT_EQ(results[i].bytes, i == 1 ? 208152u : 200012u) << i;
    refused += results[i].refusedRepeats;
  }
  for (const auto& [address, session] : server.routers) {
    repeated += session->repeatedAnswers;
  }
  EXPECT_GT(refused, 0u);
  EXPECT_GT(repeated, 0u);
}

// The server without sockets, driven datagram by datagram, on the test build's clock.
class ConversationTableTest : public InstallServerNetworkTest {
 protected:
  void StartQuietServer(size_t interfaces = 1) {
    LoadServed();
    server.directory = dir / "served";
    server.profilesPath = dir / "profiles";
    for (uint8_t i = 0; i < interfaces; ++i) {
      server.interfaces.push_back(
          ServerInterface{"if" + std::to_string(i), {2, 0, 0, 0, 9, i}, -1});
    }
  }

  // The payload of the answer to router number `router` sending `word` (DSCV and DRVR broadcast),
  // or "<none>"; checks that the answer goes to the router and acknowledges the request.
  std::string Speak(uint32_t router, const std::string& word, uint16_t sequence,
                    uint8_t index = 0) {
    DatagramHeader header;
    header.source[0] = 2;
    memcpy(header.source + 2, &router, sizeof router);
    if (!word.starts_with("DSCV") && !word.starts_with("DRVR")) {
      memcpy(header.destination, server.interfaces[index].address, kHardwareAddressSize);
    }
    header.payloadLength = uint16_t(word.size());
    header.sequence = sequence;
    uint8_t datagram[kDatagramSize] = {};
    StoreDatagramHeader(datagram, header);
    memcpy(datagram + kDatagramHeaderSize, word.data(), word.size());
    uint64_t sent = server.answersSent;
    HandleDatagram(server, index, datagram, kDatagramHeaderSize + int(word.size()));
    RouterSession* session = Session(router);
    if (server.answersSent == sent || session == nullptr) {
      return "<none>";
    }
    DatagramHeader answer = LoadDatagramHeader(session->answer);
    EXPECT_EQ(memcmp(answer.source, server.interfaces[index].address, 6), 0);
    EXPECT_EQ(memcmp(answer.destination, header.source, 6), 0);
    EXPECT_EQ(answer.acknowledgement, IsZeroAddress(header.destination) ? 0 : sequence) << word;
    EXPECT_EQ(answer.payloadLength + kDatagramHeaderSize, session->answerLength);
    return std::string(reinterpret_cast<const char*>(session->answer + kDatagramHeaderSize),
                       size_t(session->answerLength - kDatagramHeaderSize));
  }

  RouterSession* Session(uint32_t router) {
    uint8_t address[kHardwareAddressSize] = {2, 0};
    memcpy(address + 2, &router, sizeof router);
    auto found = server.routers.find(PackHardwareAddress(address));
    return found == server.routers.end() ? nullptr : found->second.get();
  }

  void Flood(uint32_t first, uint32_t count) {
    for (uint32_t router = first; router < first + count; ++router) {
      Speak(router, "DSCV", 1);
    }
  }
};

// A request repeated after a lost answer gets the very same answer; an old or skipped sequence
// number, a request out of turn, and one heard again on a second interface of the segment (an
// operator is warned once) get nothing.
TEST_F(ConversationTableTest, RepeatedRequestGetsTheSameAnswer) {
  StartQuietServer(2);
  std::string base = Pattern(200000, 3);
  EXPECT_EQ(Speak(1, "DSCV", 1), "OFFR\ndefault\n");
  EXPECT_EQ(Speak(1, "DSCV", 1, 1), "<none>");
  EXPECT_EQ(Speak(1, "DSCV", 1, 1), "<none>");
  EXPECT_EQ(Speak(1, "STRT", 1), "<none>");
  EXPECT_EQ(Speak(1, "YACK\n", 2), "<none>");
  EXPECT_EQ(Speak(1, "YACK\n", 1, 1), "<none>");
  EXPECT_EQ(Speak(1, "YACK\n", 1), "OKAY\n");
  EXPECT_EQ(Speak(1, "STRT", 2), "OKAY\n");
  EXPECT_EQ(Speak(1, "RETR", 3), "FILE\nbase.vpk\n200000\n");
  EXPECT_EQ(Speak(1, "RETR", 4), base.substr(0, kMaxPayload));
  EXPECT_EQ(Speak(1, "RETR", 4), base.substr(0, kMaxPayload));
  EXPECT_EQ(Session(1)->sendCounter, 5);
  EXPECT_EQ(Speak(1, "RETR", 3), "<none>");
  EXPECT_EQ(Speak(1, "RETR", 6), "<none>");
  EXPECT_EQ(Speak(1, "RETR", 5), base.substr(kMaxPayload, kMaxPayload));
  EXPECT_EQ(Session(1)->repeatedAnswers, 1u);
  EXPECT_EQ(Session(1)->bytesSent, 2u * kMaxPayload);
  std::string log = ServerLog();
  const std::string warning = "02:00:01:00:00:00 is heard on if0 and if1";
  EXPECT_NE(log.find(warning), std::string::npos) << log;
  EXPECT_EQ(log.find(warning), log.rfind(warning)) << log;
}

// Files changed while the server runs used to go out in silence or under their old size, and the
// router then reported a complete installation.
TEST_F(ConversationTableTest, FilesChangedWhileServing) {
  WriteTestFile(dir / "profiles", "profile default erase lab.vpk\n");
  StartQuietServer();
  std::string path = dir / "served/packages/lab.vpk";
  std::string lab = Pattern(8152, 4), grown = Pattern(3 * kMaxPayload, 5);
  const struct {
    const char* change;
    std::function<void()> beforeHeader, afterFirstBlock;
    std::string header, second, failure;
  } cases[] = {
      {"deleted", [&] { unlink(path.c_str()); }, [] {}, "FILE\nlab.vpk\n-1\n", "<none>",
       "cannot send lab.vpk: No such file or directory"},
      {"grown", [&] { WriteTestFile(path, grown); }, [] {}, "FILE\nlab.vpk\n12228\n",
       grown.substr(kMaxPayload, kMaxPayload), ""},
      {"shrunk", [] {}, [&] { ASSERT_EQ(truncate(path.c_str(), 100), 0); }, "FILE\nlab.vpk\n8152\n",
       "", "lab.vpk ended after 4076 of 8152 bytes"},
      {"replaced while set aside", [] {},
       [&] {
         SetFileAside(*Session(1));
         WriteTestFile(path + ".new", lab);
         ASSERT_EQ(rename((path + ".new").c_str(), path.c_str()), 0);
       },
       "FILE\nlab.vpk\n8152\n", "", "lab.vpk was replaced while it was sent"},
      {"set aside", [] {}, [&] { SetFileAside(*Session(1)); }, "FILE\nlab.vpk\n8152\n",
       lab.substr(kMaxPayload), ""},
  };
  for (const auto& row : cases) {
    WriteTestFile(path, lab);
    EXPECT_EQ(Speak(1, "DSCV", 1), "OFFR\ndefault\n");
    EXPECT_EQ(Speak(1, "YACK\n", 1), "OKAY\n");
    EXPECT_EQ(Speak(1, "STRT", 2), "OKAY\n");
    row.beforeHeader();
    EXPECT_EQ(Speak(1, "RETR", 3), row.header) << row.change;
    if (row.header.ends_with("-1\n")) {
      EXPECT_EQ(Speak(1, "RETR", 3), row.header) << "a lost refusal is sent again";
    } else {
      EXPECT_EQ(Speak(1, "RETR", 4), (row.change[0] == 'g' ? grown : lab).substr(0, kMaxPayload))
          << row.change;
    }
    row.afterFirstBlock();
    EXPECT_EQ(Speak(1, "RETR", 5), row.second) << row.change;
    EXPECT_EQ(Session(1)->failure, row.failure) << row.change;
    EXPECT_EQ(Session(1)->state == RouterState::kFailed, !row.failure.empty()) << row.change;
    EXPECT_EQ(Session(1)->fileDescriptor < 0, !row.failure.empty()) << row.change;
    SleepMicroseconds(kRecentMicroseconds);  // the next DSCV starts again
  }
}

// A flood of discoveries used to take the conversation of a router preparing its disk (silent
// between YACK and STRT), and a DSCV carrying its address restarted it; it logged two lines an
// address.
TEST_F(ConversationTableTest, FloodsAndEchoesLeaveABoundRouterAlone) {
  StartQuietServer();
  auto started = std::chrono::steady_clock::now();
  const uint32_t bound = 7, waiting = 8;
  EXPECT_EQ(Speak(bound, "DSCV", 1), "OFFR\ndefault\n");
  EXPECT_EQ(Speak(bound, "YACK\n", 1), "OKAY\n");
  EXPECT_EQ(Speak(bound, "DSCV", 1), "<none>");
  for (uint32_t round = 0; round < 8; ++round) {
    Flood(100 + round * 1000, 1000);
    Speak(waiting, "DSCV", 1);  // repeats its discovery until an offer reaches it
  }
  EXPECT_EQ(server.routers.size(), kMaxRouterSessions);
  EXPECT_NE(Session(waiting), nullptr);
  EXPECT_EQ(Session(100), nullptr);
  EXPECT_NE(Session(100 + 8000 - 1), nullptr);
  SleepMicroseconds(5 * 60 * 1000000ull);  // partitioning and formatting a slow disk
  Flood(20000, 10);
  EXPECT_EQ(Speak(bound, "STRT", 2), "OKAY\n");
  EXPECT_EQ(Speak(bound, "RETR", 3), "FILE\nbase.vpk\n200000\n");
  SleepMicroseconds(1000000);
  SweepRouters(server);
  // One line a second of the flood's real time, and its count of lines left out.
  auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started)
          .count();
  std::string log = ServerLog();
  EXPECT_LE(std::count(log.begin(), log.end(), '\n'), 12 + 2 * seconds) << log;
  EXPECT_NE(log.find("more lines about new or refused addresses left out"), std::string::npos);
  EXPECT_NE(log.find(" bound: 0 of 2 files"), std::string::npos) << log;
}

// Open files are bounded, idle routers forgotten; a reload leaves conversations what they were
// offered.
TEST_F(ConversationTableTest, IdleRoutersAndFileLimitBoundDescriptors) {
  StartQuietServer();
  server.openFiles.limit = 2;
  for (uint32_t router = 1; router <= 3; ++router) {
    EXPECT_EQ(Speak(router, "DSCV", 1), "OFFR\ndefault\n");
    EXPECT_EQ(Speak(router, "YACK\n", 1), "OKAY\n");
    EXPECT_EQ(Speak(router, "STRT", 2), "OKAY\n");
    EXPECT_EQ(Speak(router, "RETR", 3), "FILE\nbase.vpk\n200000\n");
    EXPECT_EQ(Speak(router, "RETR", 4), Pattern(200000, 3).substr(0, kMaxPayload));
    EXPECT_LE(server.openFiles.open, 2u);
  }
  WriteTestFile(dir / "profiles", "profile default erase site.scr\n");
  ASSERT_TRUE(ReloadServedDirectory(server));
  EXPECT_EQ(Speak(1, "RETR", 5), Pattern(200000, 3).substr(kMaxPayload, kMaxPayload));
  EXPECT_EQ(Speak(4, "DSCV", 1), "OFFR\ndefault\n");
  EXPECT_EQ(Session(4)->profile->files.size(), 1u);
  SleepMicroseconds(kFileIdleMicroseconds + 1);
  EXPECT_EQ(Speak(2, "RETR", 5), Pattern(200000, 3).substr(kMaxPayload, kMaxPayload));
  SweepRouters(server);
  EXPECT_EQ(server.openFiles.open, 1u);
  SleepMicroseconds(kIdleTimeoutMicroseconds);
  SweepRouters(server);
  EXPECT_TRUE(server.routers.empty());
  EXPECT_EQ(server.openFiles.open, 0u);
  std::string log = ServerLog();
  EXPECT_NE(log.find("02:00:02:00:00:00 forgotten after 1200 s of silence (installing, 0 of 2"),
            std::string::npos)
      << log;
}

// Each conversation used to copy its profile's file list: 4,200 invented addresses took 1.1 GB.
TEST_F(ConversationTableTest, MemoryPerConversationIsSmall) {
  std::string list = "profile default erase";
  for (int i = 0; i < 2000; ++i) {
    std::string name = "package-long-name-" + std::to_string(i) + ".vpk";
    WriteTestFile(dir / ("served/packages/" + name), "x");
    list += " " + name;
  }
  WriteTestFile(dir / "profiles", list + "\n");
  StartQuietServer();
  auto residentKilobytes = [] {
    std::string status = ReadWholeTestFile("/proc/self/status");
    return std::stol(status.substr(status.find("VmRSS:") + 6));
  };
  long before = residentKilobytes();
  Flood(100, kMaxRouterSessions);
  long perConversation = (residentKilobytes() - before) * 1024 / long(kMaxRouterSessions);
  // 4.4 KB here, more under the address sanitizer; a copied list of 2,000 files is 200 KB.
  EXPECT_LT(perConversation, 16000) << "bytes per conversation";
}

}  // namespace
