#include "packages/reporter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
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
