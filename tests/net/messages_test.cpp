// The reading of the messages that carry fields, by the installer, install-load and the server.

#include "net/messages.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace {

TEST(ReadOffer, NeedsASecondLineOfAtMost512AndReadsKeep) {
  const struct {
    std::string payload;
    bool read;
    std::string profile;
    bool keep;
  } cases[] = {
      {"OFFR\n\n", true, "", false},
      {"OFFR\nrouter 7\nkeep\n", true, "router 7", true},
      {"OFFR\n\nkeep", true, "", true},
      {"OFFR\n\nkeeps\n", true, "", false},
      {"OFFR\n" + std::string(512, 'i') + "\nkeep\n", true, std::string(512, 'i'), true},
      {"OFFR\n" + std::string(513, 'i') + "\nkeep\n", false, "", false},
      {"OFFR\nno second line feed", false, "", false},
      {"OFFR", false, "", false},
  };
  for (const auto& c : cases) {
    Offer offer;
    EXPECT_EQ(ReadOffer(c.payload, offer), c.read) << c.payload;
    EXPECT_EQ(offer.profile, c.profile) << c.payload;
    EXPECT_EQ(offer.keep, c.keep) << c.payload;
  }
  EXPECT_EQ(OfferPayload("lab", true), "OFFR\nlab\nkeep\n");
}

TEST(ReadFileHeader, NeedsASizeFrom0To2To31Minus1) {
  const struct {
    std::string payload;
    FileHeader header;
    std::string name;
    int32_t size;
  } cases[] = {
      {FileHeaderPayload("base.vpk", 2147483647), FileHeader::kOpened, "base.vpk", 2147483647},
      {"FILE\nempty.scr\n0", FileHeader::kOpened, "empty.scr", 0},
      {FileHeaderPayload("gone.vpk", -1), FileHeader::kBroken, "gone.vpk", -1},
      {"FILE\nhuge\n2147483648\n", FileHeader::kBroken, "huge", -1},
      {"FILE\nnumber\n12x\n", FileHeader::kBroken, "number", -1},
      {"FILE\nspace\n 12\n", FileHeader::kBroken, "space", -1},
      {"FILE\nnone\n", FileHeader::kBroken, "none", -1},
      {"FILE", FileHeader::kBroken, "", -1},
      {std::string(kListEnd), FileHeader::kNone, "", -1},
  };
  for (const auto& c : cases) {
    std::string_view name;
    int32_t size = -1;
    EXPECT_EQ(ReadFileHeader(c.payload, name, size), c.header) << c.payload;
    EXPECT_EQ(name, c.name) << c.payload;
    if (c.header == FileHeader::kOpened) {
      EXPECT_EQ(size, c.size) << c.payload;
    }
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
      {std::string("a\0/b", 4), "a"},
  };
  for (const auto& [announced, usable] : cases) {
    EXPECT_EQ(UsableFileName(announced), usable) << announced;
  }
}

TEST(ServerReading, ReadsReleaseAndIdentityFromHostilePayloads) {
  const std::pair<std::string, std::string> releases[] = {
      {std::string("DRVR\n5.10.0-test\0", 17), "5.10.0-test"},
      {"DRVR\n6.1", "6.1"},
      {"DRVR", ""},
      {"DRVR\n" + std::string(100, 'x'), std::string(64, 'x')},
  };
  for (const auto& [payload, release] : releases) {
    EXPECT_EQ(DriverRelease(payload), release) << payload;
  }
  std::string discover = DiscoverPayload("\x01id", "", "Corvanta");
  EXPECT_EQ(DiscoverLines(discover), (std::vector<std::string>{"?id", "", "Corvanta", "i386"}));
  EXPECT_TRUE(DiscoverLines("DSCV").empty());
}

}  // namespace
