#include "packages/reporter.h"

#include "tests/support/stream_bytes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>

namespace {

using testing::ElementsAre;

std::string Captured(const std::function<void()>& action) {
  testing::internal::CaptureStdout();
  action();
  return testing::internal::GetCapturedStdout();
}

const std::string kHide = "\033[?25l\r";
const std::string kShow = "\r\033[?25h";
const std::string kWipe = "\r" + std::string(79, ' ') + "\r";
const std::string kBar = "installing ppp-2.9.5 [#####     ]";

TEST(ReporterTest, StatusLineIsRewrittenInPlaceAndPadded) {
  PackageDatabase db;
  struct Step {
    const char* text;
    std::string bytes;
  } steps[] = {
      {"abcdef", kHide + "abcdef" + kShow},
      {"abc", kHide + "abc   " + kShow},
      {"abc", ""},  // unchanged: nothing written
      {"abcdefgh", kHide + "abcdefgh" + kShow},
      {"", kHide + "        " + kShow},
      {"", ""},
  };
  for (const Step& step : steps) {
    EXPECT_EQ(Captured([&] { ShowStatus(db, step.text); }), step.bytes) << step.text;
    EXPECT_EQ(db.statusLine, step.text);
  }
  EXPECT_TRUE(db.log.empty());
}

TEST(ReporterTest, WarningOverProgressBarRedrawsIt) {
  PackageDatabase db;
  Captured([&] { ShowStatus(db, kBar); });
  EXPECT_EQ(Captured([&] { ReportWarning(db, "disk %s at %d%%", "hda", 95); }),
            kWipe + "WARNING: disk hda at 95%\n" + kBar);
  EXPECT_EQ(db.statusLine, kBar);
  EXPECT_THAT(db.log, ElementsAre("WARNING: disk hda at 95%"));
}

TEST(ReporterTest, ErrorAndInfoClearTheBarForGood) {
  const std::string cleared = kHide + std::string(kBar.size(), ' ') + kShow;
  struct Case {
    void (*report)(PackageDatabase&, const char*, ...);
    std::string line;
  } cases[] = {{ReportError, "ERROR: broken"}, {ReportInfo, "broken"}};
  for (const Case& c : cases) {
    PackageDatabase db;
    Captured([&] { ShowStatus(db, kBar); });
    EXPECT_EQ(Captured([&] { c.report(db, "%s", "broken"); }), cleared + c.line + "\n");
    EXPECT_EQ(db.statusLine, "");
    EXPECT_THAT(db.log, ElementsAre(c.line));
  }
}

TEST(ReporterTest, MessagesWithoutBarAreBareLines) {
  PackageDatabase db;
  EXPECT_EQ(Captured([&] {
              ReportWarning(db, "one");
              ReportError(db, "two");
              ReportInfo(db, "three %u", 3u);
            }),
            "WARNING: one\nERROR: two\nthree 3\n");
  EXPECT_THAT(db.log, ElementsAre("WARNING: one", "ERROR: two", "three 3"));
}

TEST(ReporterTest, LongMessageIsCutAfterThePrefix) {
  PackageDatabase db;
  std::string text(300, 'x');
  std::string printed = Captured([&] { ReportError(db, "%s", text.c_str()); });
  EXPECT_EQ(printed, "ERROR: " + std::string(255, 'x') + "\n");
  EXPECT_THAT(db.log, ElementsAre("ERROR: " + std::string(255, 'x')));
}

TEST(ReporterTest, QuietPrintsAndLogsNothing) {
  PackageDatabase db;
  db.quiet = true;
  EXPECT_EQ(Captured([&] {
              ShowStatus(db, kBar);
              ReportWarning(db, "w");
              ReportError(db, "e");
              ReportInfo(db, "i");
            }),
            "");
  EXPECT_TRUE(db.log.empty());
  EXPECT_EQ(db.statusLine, "");
}

}  // namespace

TEST(ProgressLineTest, BarWidthFollowsTheLabel) {
  const std::string label20 = "installing ppp-2.9.5";  // 20 characters
  ASSERT_EQ(label20.size(), 20u);
  struct Case {
    std::uint64_t done, total;
    std::size_t hashes;
  } cases[] = {
      {0, 1000, 0},
      {500, 1000, 27},  // halfway: half of 54
      {3, 7, 23},       // 54 * 3 / 7 = 23.1, rounded down
      {999, 1000, 53},
      {1000, 1000, 54},
      {5000, 1000, 54},  // a lying total never overflows
      {1, 0, 0},
      {0xffffffffffffffff, 0xffffffffffffffff, 54},
      {0x7fffffffffffffff, 0xffffffffffffffff, 26},  // 54 / 2 without 64-bit overflow
  };
  for (const Case& c : cases) {
    std::string line = ProgressLine(label20, c.done, c.total);
    EXPECT_EQ(line,
              label20 + " [" + std::string(c.hashes, '#') + std::string(54 - c.hashes, ' ') + "]")
        << c.done << "/" << c.total;
  }
}

TEST(ProgressLineTest, LongLabelsAreShortenedToKeepABar) {
  for (std::size_t length : {60u, 73u, 74u, 200u}) {
    std::string label = "verifying " + std::string(length - 14, 'f') + ".vpk";
    std::string line = ProgressLine(label, 1, 2);
    EXPECT_EQ(line.size(), 77u) << length;
    EXPECT_EQ(line.back(), ']');
    if (length < 74) {
      EXPECT_EQ(line.substr(0, length + 2), label + " [") << length;
    } else {
      EXPECT_EQ(line.substr(0, 10), "verifying ") << line;
      EXPECT_EQ(line.substr(30, 3), "...") << line;
      EXPECT_TRUE(line.ends_with("ff.vpk [#####     ]")) << line;
    }
  }
}

TEST(ProgressLineTest, InstallingLabelMarksDisabledPackagesOutsideBundles) {
  Package p("ppp");
  p.version = MakeVersion(2, 9, 'f', 5);
  EXPECT_EQ(InstallingLabel(p), "installing ppp-2.9.5");
  p.disabled = true;
  EXPECT_EQ(InstallingLabel(p), "installing  (disabled) ppp-2.9.5");
  p.bundle.name = "suite";
  EXPECT_EQ(InstallingLabel(p), "installing suite");
}

// A container of exactly 1000 bytes: header (8), one part header (6) and 986 content bytes.
class ProgressTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(reader.TotalSize(), 1000u);
    reader.AcceptPartType(PartFiles);
    ASSERT_EQ(reader.NextPart(), PartFiles);
  }

  // Reads count bytes of the part and returns the bar then shown.
  std::string BarAfter(std::size_t count) {
    std::string bytes(count, '\0');
    reader.read(bytes.data(), std::streamsize(count));
    Captured([&] { ShowInstallingProgress(db, package, reader); });
    return db.statusLine;
  }

  std::istringstream source{ContainerBytes(PartBytes(PartFiles, std::string(986, 'z')))};
  PartReader reader{source, false};
  PackageDatabase db;
  Package package{"ppp"};
};

TEST_F(ProgressTest, BarFollowsTheReadPosition) {
  package.version = MakeVersion(2, 9, 'f', 5);
  const std::string label = "installing ppp-2.9.5 [";
  EXPECT_EQ(BarAfter(0), label + std::string(54, ' ') + "]");  // 14 / 1000 of 54 rounds to 0
  EXPECT_EQ(BarAfter(486), label + std::string(27, '#') + std::string(27, ' ') + "]");
  EXPECT_EQ(BarAfter(500), label + std::string(54, '#') + "]");
  // Reading past the end of the part leaves the stream at end of file; the bar stays full.
  EXPECT_EQ(BarAfter(1), label + std::string(54, '#') + "]");
}

TEST_F(ProgressTest, DisabledPackageLabelAndQuiet) {
  package.disabled = true;
  std::string line = BarAfter(986);
  EXPECT_TRUE(line.starts_with("installing  (disabled) ppp-0.0 [###")) << line;
  EXPECT_EQ(line.size(), 77u);
  db.quiet = true;
  db.statusLine.clear();
  EXPECT_EQ(Captured([&] { ShowProgress(db, reader, "verifying x"); }), "");
  EXPECT_EQ(db.statusLine, "");
}
