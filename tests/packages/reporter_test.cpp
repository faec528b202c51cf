#include "packages/reporter.h"

#include <gtest/gtest.h>

#include "tests/support/package_tree.h"

namespace {

const std::string kHide = "\033[?25l\r";
const std::string kShow = "\r\033[?25h";
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
  };
  for (const Step& step : steps) {
    EXPECT_EQ(CapturedStdout([&] { ShowStatus(db, step.text); }), step.bytes) << step.text;
    EXPECT_EQ(db.statusLine, step.text);
  }
  EXPECT_TRUE(db.log.empty());
}

// A warning is printed above the bar, which is drawn again below it; an error or information
// clears the bar for good first. Formatted text is cut to 255 characters after the prefix.
TEST(ReporterTest, MessagesAroundTheBar) {
  const std::string cleared = kHide + std::string(kBar.size(), ' ') + kShow;
  const std::string wipe = "\r" + std::string(79, ' ') + "\r";
  struct Case {
    void (*report)(PackageDatabase&, const char*, ...);
    bool bar;
    std::string text, bytes, line;
  } cases[] = {
      {ReportWarning, true, "disk full", wipe + "WARNING: disk full\n" + kBar,
       "WARNING: disk full"},
      {ReportError, true, "broken", cleared + "ERROR: broken\n", "ERROR: broken"},
      {ReportInfo, true, "done", cleared + "done\n", "done"},
      {ReportWarning, false, "w", "WARNING: w\n", "WARNING: w"},
      {ReportError, false, std::string(300, 'x'), "ERROR: " + std::string(255, 'x') + "\n",
       "ERROR: " + std::string(255, 'x')},
  };
  for (const Case& c : cases) {
    PackageDatabase db;
    CapturedStdout([&] { ShowStatus(db, c.bar ? kBar : ""); });
    EXPECT_EQ(CapturedStdout([&] { c.report(db, "%s", c.text.c_str()); }), c.bytes) << c.line;
    EXPECT_EQ(db.statusLine, c.report == ReportWarning && c.bar ? kBar : "") << c.line;
    EXPECT_EQ(db.log, std::vector<std::string>{c.line});
  }
  PackageDatabase quiet;
  quiet.quiet = true;
  EXPECT_EQ(CapturedStdout([&] {
              ShowStatus(quiet, kBar);
              ReportWarning(quiet, "w");
              ReportError(quiet, "e");
            }),
            "");
  EXPECT_TRUE(quiet.log.empty() && quiet.statusLine.empty());
}

// The bar is as wide as the label leaves room for, rounds down, and never overflows or runs past
// its end; a label too long for any bar is shortened in its middle.
TEST(ReporterTest, ProgressBarWidthFollowsTheLabel) {
  const std::string label20 = "installing ppp-2.9.5";  // 20 characters: a bar of 54
  struct Case {
    std::uint64_t done, total;
    std::size_t hashes;
  } cases[] = {{500, 1000, 27},
               {3, 7, 23},
               {5000, 1000, 54},
               {1, 0, 0},
               {0x7fffffffffffffff, 0xffffffffffffffff, 26}};
  for (const Case& c : cases) {
    EXPECT_EQ(ProgressLine(label20, c.done, c.total),
              label20 + " [" + std::string(c.hashes, '#') + std::string(54 - c.hashes, ' ') + "]")
        << c.done << "/" << c.total;
  }
  EXPECT_EQ(
      ProgressLine("verifying " + std::string(186, 'f') + ".vpk", 1, 2),
      "verifying " + std::string(20, 'f') + "..." + std::string(27, 'f') + ".vpk [#####     ]");
}

TEST(ReporterTest, InstallingLabelMarksDisabledPackagesOutsideBundles) {
  Package p("ppp");
  p.version = MakeVersion(2, 9, 'f', 5);
  EXPECT_EQ(InstallingLabel(p), "installing ppp-2.9.5");
  p.disabled = true;
  EXPECT_EQ(InstallingLabel(p), "installing  (disabled) ppp-2.9.5");
  p.bundle.name = "suite";
  EXPECT_EQ(InstallingLabel(p), "installing suite");
}

}  // namespace
