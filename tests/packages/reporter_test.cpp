#include "packages/reporter.h"

#include <gtest/gtest.h>

#include "packages/reporter_internal.h"
#include "tests/support/package_tree.h"

const std::string kHide = "\033[?25l\r";
const std::string kShow = "\r\033[?25h";
const std::string kBar = "installing ppp-2.9.5 [#####     ]";

TEST(ReporterTest, StatusLineIsRewrittenInPlaceAndPadded) {
  PackageDatabase db;
  const std::pair<const char*, std::string> steps[] = {{"abcdef", kHide + "abcdef" + kShow},
                                                       {"abc", kHide + "abc   " + kShow},
                                                       {"abc", ""},  // unchanged: nothing written
                                                       {"abcdefgh", kHide + "abcdefgh" + kShow},
                                                       {"", kHide + "        " + kShow}};
  for (const auto& [text, bytes] : steps) {
    EXPECT_EQ(CapturedStdout([&] { ShowStatus(db, text); }), bytes) << text;
    EXPECT_EQ(db.statusLine, text);
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
  EXPECT_EQ(CapturedStdout([&] { ShowStatus(quiet, kBar); }) +
                CapturedStdout([&] { ReportError(quiet, "e"); }),
            "");
  EXPECT_TRUE(quiet.log.empty() && quiet.statusLine.empty());
}

// The bar is as wide as the label leaves room for, rounds down, and neither overflows nor runs past
// its end; a label too long for any bar is shortened in its middle.
TEST(ReporterTest, ProgressBarWidthFollowsTheLabel) {
  auto bar = [](std::size_t n) {  // after a label of 20 characters
    return "installing ppp-2.9.5 [" + std::string(n, '#') + std::string(54 - n, ' ') + "]";
  };
  EXPECT_EQ(ProgressLine("installing ppp-2.9.5", 500, 1000), bar(27));
  EXPECT_EQ(ProgressLine("installing ppp-2.9.5", 5000, 1000), bar(54));
  EXPECT_EQ(ProgressLine("installing ppp-2.9.5", 0x7fffffffffffffff, 0xffffffffffffffff), bar(26));
  EXPECT_EQ(
      ProgressLine("verifying " + std::string(186, 'f') + ".vpk", 1, 2),
      "verifying " + std::string(20, 'f') + "..." + std::string(27, 'f') + ".vpk [#####     ]");
  // The installing label marks a disabled package, unless it is named by its bundle.
  Package p("ppp");
  p.disabled = true;
  EXPECT_EQ(InstallingLabel(p), "installing  (disabled) ppp-0.0");
  p.bundle.name = "suite";
  EXPECT_EQ(InstallingLabel(p), "installing suite");
}
