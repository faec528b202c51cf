#include "tools/install-server/router_session.h"

#include <gtest/gtest.h>

#include <cstring>

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
    WriteTestFile(dir / "big.vpk", big);
    WriteTestFile(dir / "empty.scr", "");
    profile = Profile{
        "lab",
        true,
        {{dir / "big.vpk", "big.vpk", int64_t(big.size())}, {dir / "empty.scr", "empty.scr", 0}}};
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
    if (AnswerRequest(&session, header, reinterpret_cast<const uint8_t*>(word.data())) ==
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
  Profile profile;
  RouterSession session;
  uint16_t lastSequence = 0;
};

// The whole installation as the router asks for it: each answer carries the next sequence
// number and acknowledges the request; the offer acknowledges nothing, because the router's
// counters start again after its broadcast.
TEST_F(RouterSessionTest, AnswersAnInstallationInOrder) {
  StartInstallation(&session, profile);
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
}

// A request repeated after a lost answer gets the very same datagram; an old or skipped
// sequence number and a request out of turn get nothing.
TEST_F(RouterSessionTest, RepeatedRequestGetsTheSameAnswer) {
  StartInstallation(&session, profile);
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

// The driver conversation serves its one file, then the end of the list; a file gone since
// start fails the router instead of ending its list early.
TEST_F(RouterSessionTest, DriverConversationAndVanishedFile) {
  StartDriverConversation(&session, profile.files[1]);
  EXPECT_EQ(Answer(0), "OFDR\n");
  EXPECT_EQ(Ask("YACK\n", 1), "<none>");
  EXPECT_EQ(Ask("RETR", 1), "FILE\nempty.scr\n0\n");
  EXPECT_EQ(Ask("RETR", 2), "");
  EXPECT_EQ(Ask("RETR", 3), "DONE\n");
  StartInstallation(&session, profile);
  ASSERT_EQ(unlink((dir / "big.vpk").c_str()), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Ask("YACK\n", 1), "OKAY\n");
  EXPECT_EQ(Ask("STRT", 2), "OKAY\n");
  EXPECT_EQ(Ask("RETR", 3), "<none>");
  EXPECT_EQ(Ask("RETR", 3), "<none>");
  EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot open"), std::string::npos);
  EXPECT_EQ(session.state, RouterState::kFailed);
}

TEST(RouterPayloadTest, ReadsReleaseAndIdentityFromHostilePayloads) {
  auto Bytes = [](const std::string& text) {
    return std::pair(reinterpret_cast<const uint8_t*>(text.data()), int(text.size()));
  };
  const std::pair<std::string, std::string> releases[] = {
      {std::string("DRVR\n5.10.0-test\0", 17), "5.10.0-test"},
      {"DRVR\n6.1", "6.1"},
      {"DRVR", ""},
      {"DRVR\n" + std::string(100, 'x'), std::string(64, 'x')},
  };
  for (const auto& [payload, release] : releases) {
    auto [bytes, length] = Bytes(payload);
    EXPECT_EQ(DriverRelease(bytes, length), release) << payload;
  }
  std::string discover("DSCV\n\x01id\n\nCorvanta\ni386\n\0", 25);
  auto [bytes, length] = Bytes(discover);
  EXPECT_EQ(DiscoverLines(bytes, length),
            (std::vector<std::string>{"?id", "", "Corvanta", "i386"}));
  EXPECT_TRUE(DiscoverLines(bytes, 4).empty());
}

}  // namespace
