#include "tools/install-server/router_session.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "tests/support/test_files.h"

namespace {

const uint8_t routerAddress[6] = {0x02, 0, 0, 0, 0, 0x07};
const uint8_t serverAddress[6] = {0x02, 0, 0, 0, 0, 0x99};

class RouterSessionTest : public testing::Test {
 protected:
  RouterSessionTest() {
    memcpy(session.address, routerAddress, 6);
    memcpy(session.serverAddress, serverAddress, 6);
    big = std::string(kMaxPayload + 10, 'b');
    big[kMaxPayload] = 'B';
    mkdir((dir / "packages").c_str(), 0755);
    WriteTestFile(dir / "packages/big.vpk", big);
    WriteTestFile(dir / "packages/empty.scr", "");
    profile = std::make_shared<Profile>(
        Profile{dir.Path(),
                "lab",
                true,
                {{dir / "packages/big.vpk", "packages/big.vpk", "big.vpk", int64_t(big.size())},
                 {dir / "packages/empty.scr", "packages/empty.scr", "empty.scr", 0}}});
  }

  // Sends the router's request with this sequence number; the payload of the answer, or
  // "<none>" when it gets none. Checks the answer's header on the way.
  std::string Ask(const std::string& word, uint16_t sequence) {
    DatagramHeader header;
    memcpy(header.source, routerAddress, 6);
    memcpy(header.destination, serverAddress, 6);
    header.payloadLength = uint16_t(word.size());
    header.sequence = sequence;
    header.acknowledgement = session.sendCounter;
    if (AnswerRequest(session, header, reinterpret_cast<const uint8_t*>(word.data())) ==
        RequestOutcome::kIgnored) {
      return "<none>";
    }
    return Answer(sequence);
  }

  std::string Answer(uint16_t acknowledgement) {
    DatagramHeader answer = LoadDatagramHeader(session.answer);
    EXPECT_EQ(memcmp(answer.source, serverAddress, 6), 0);
    EXPECT_EQ(memcmp(answer.destination, routerAddress, 6), 0);
    EXPECT_EQ(answer.acknowledgement, acknowledgement);
    EXPECT_EQ(answer.payloadLength + kDatagramHeaderSize, session.answerLength);
    lastSequence = answer.sequence;
    return std::string(reinterpret_cast<const char*>(session.answer + kDatagramHeaderSize),
                       answer.payloadLength);
  }

  TemporaryDirectory dir;
  std::string big;
  std::shared_ptr<Profile> profile;
  RouterSession session;
  uint16_t lastSequence = 0;
};

// The whole installation as the router asks for it: each answer carries the next sequence
// number and acknowledges the request; the offer acknowledges nothing, because the router's
// counters start again after its broadcast.
TEST_F(RouterSessionTest, AnswersAnInstallationAndADriverConversationInOrder) {
  StartInstallation(session, profile);
  EXPECT_EQ(Answer(0), "OFFR\nlab\nkeep\n");
  EXPECT_EQ(lastSequence, 1);
  const std::pair<const char*, std::string> script[] = {
      {"YACK\n", "OKAY\n"},
      {"STRT", "OKAY\n"},
      {"RETR", "FILE\nbig.vpk\n4086\n"},
      {"RETR", big.substr(0, kMaxPayload)},
      {"RETR", "B" + std::string(9, 'b')},
      {"RETR", ""},
      {"RETR", "FILE\nempty.scr\n0\n"},
      {"RETR", ""},
      {"RETR", "DONE\n"},
      {"WTRM", "TERM\n"},
  };
  uint16_t sequence = 1;
  for (const auto& [request, answer] : script) {
    EXPECT_EQ(Ask(request, sequence), answer) << request << " " << sequence;
    EXPECT_EQ(lastSequence, sequence + 1);
    ++sequence;
  }
  EXPECT_EQ(session.filesSent, 2u);
  EXPECT_EQ(session.bytesSent, big.size());
  EXPECT_EQ(session.state, RouterState::kFarewell);
  // The driver conversation serves its one file, then the end of the list; there is no YACK.
  StartDriverConversation(session, profile->files[1], dir.Path());
  EXPECT_EQ(Answer(0), "OFDR\n");
  EXPECT_EQ(Ask("YACK\n", 1), "<none>");
  EXPECT_EQ(Ask("RETR", 1), "FILE\nempty.scr\n0\n");
  EXPECT_EQ(Ask("RETR", 2), "");
  EXPECT_EQ(Ask("RETR", 3), "DONE\n");
}

// A request repeated after a lost answer gets the very same datagram; an old or skipped
// sequence number and a request out of turn get nothing.
TEST_F(RouterSessionTest, RepeatedRequestGetsTheSameAnswer) {
  StartInstallation(session, profile);
  EXPECT_EQ(Ask("STRT", 1), "<none>");
  EXPECT_EQ(Ask("YACK\n", 2), "<none>");
  EXPECT_EQ(Ask("YACK\n", 1), "OKAY\n");
  EXPECT_EQ(Ask("STRT", 2), "OKAY\n");
  EXPECT_EQ(Ask("RETR", 3), "FILE\nbig.vpk\n4086\n");
  EXPECT_EQ(Ask("RETR", 4), big.substr(0, kMaxPayload));
  std::string first(reinterpret_cast<const char*>(session.answer), size_t(session.answerLength));
  EXPECT_EQ(Ask("RETR", 4), big.substr(0, kMaxPayload));
  EXPECT_EQ(
      std::string(reinterpret_cast<const char*>(session.answer), size_t(session.answerLength)),
      first);
  EXPECT_EQ(Ask("RETR", 3), "<none>");
  EXPECT_EQ(Ask("RETR", 6), "<none>");
  EXPECT_EQ(Ask("RETR", 5), "B" + std::string(9, 'b'));
  EXPECT_EQ(session.repeatedAnswers, 1u);
  EXPECT_EQ(session.bytesSent, big.size());
}

// Files changed while the server runs. Each used to go out in silence or under its old size,
// and the router then reported a complete installation: now it is told the size of the file as
// opened, or gets a header (size -1) or an early end that it stops on, and the router's summary
// names the file. A file set aside to save descriptors goes on when it is still the same file.
TEST_F(RouterSessionTest, FilesChangedWhileServing) {
  std::string path = dir / "packages/big.vpk";
  std::string grown = std::string(2 * kMaxPayload, 'g');
  const struct {
    const char* change;
    std::function<void()> beforeHeader, afterFirstBlock;
    std::string header, second, failure;
  } cases[] = {
      {"deleted", [&] { unlink(path.c_str()); }, [] {}, "FILE\nbig.vpk\n-1\n", "<none>",
       "cannot send big.vpk: No such file or directory"},
      {"grown", [&] { WriteTestFile(path, grown); }, [] {}, "FILE\nbig.vpk\n8152\n",
       grown.substr(kMaxPayload), ""},
      {"shrunk", [] {}, [&] { ASSERT_EQ(truncate(path.c_str(), 100), 0); }, "FILE\nbig.vpk\n4086\n",
       "", "big.vpk ended after 4076 of 4086 bytes"},
      {"replaced while set aside", [] {},
       [&] {
         SetFileAside(session);
         WriteTestFile(path + ".new", big);
         ASSERT_EQ(rename((path + ".new").c_str(), path.c_str()), 0);
       },
       "FILE\nbig.vpk\n4086\n", "", "big.vpk was replaced while it was sent"},
      {"set aside", [] {}, [&] { SetFileAside(session); }, "FILE\nbig.vpk\n4086\n",
       "B" + std::string(9, 'b'), ""},
  };
  for (const auto& row : cases) {
    WriteTestFile(path, big);
    StartInstallation(session, profile);
    EXPECT_EQ(Ask("YACK\n", 1), "OKAY\n");
    EXPECT_EQ(Ask("STRT", 2), "OKAY\n");
    row.beforeHeader();
    EXPECT_EQ(Ask("RETR", 3), row.header) << row.change;
    if (row.header.ends_with("-1\n")) {
      EXPECT_EQ(Ask("RETR", 3), row.header) << "a lost refusal is sent again";
    } else {
      EXPECT_EQ(Ask("RETR", 4),
                (row.header == "FILE\nbig.vpk\n8152\n" ? grown : big).substr(0, kMaxPayload))
          << row.change;
    }
    row.afterFirstBlock();
    EXPECT_EQ(Ask("RETR", 5), row.second) << row.change;
    EXPECT_EQ(session.failure, row.failure) << row.change;
    EXPECT_EQ(session.state == RouterState::kFailed, !row.failure.empty()) << row.change;
    EXPECT_EQ(session.fileDescriptor < 0, !row.failure.empty()) << row.change;
  }
}

}  // namespace
