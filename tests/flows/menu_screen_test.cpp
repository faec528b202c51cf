// The package menu as a person sees it: the driver program shows it in a terminal emulator of
// 80x25 (tmux), and the screen is compared with golden screens under golden/. With
// VELA_UPDATE_GOLDEN=1 in the environment the screens are written there instead, to be read.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/package_builder.h"

namespace {

// A tmux server of its own, with its socket in a directory that goes with it.
class TmuxServer {
 public:
  TmuxServer() : socket_(directory_ / "socket") {}
  ~TmuxServer() { Run("kill-server"); }
  TmuxServer(const TmuxServer&) = delete;
  TmuxServer& operator=(const TmuxServer&) = delete;

  // Runs one tmux command; what it printed.
  std::string Run(const std::string& arguments) const {
    std::string command = "tmux -S " + socket_ + " -f /dev/null " + arguments + " 2>/dev/null";
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
      char block[4096];
      for (size_t count; (count = fread(block, 1, sizeof block, pipe)) > 0;) {
        output.append(block, count);
      }
      pclose(pipe);
    }
    return output;
  }

 private:
  TemporaryDirectory directory_;
  std::string socket_;
};

bool HaveTmux() {
  return system("tmux -V >/dev/null 2>&1") == 0;
}

// The pane as text, polled until it shows the golden screen or two seconds have passed.
std::string ScreenWhenSettled(const TmuxServer& tmux, const std::string& golden) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  std::string screen;
  do {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    screen = tmux.Run("capture-pane -p -t menu");
  } while (screen != golden && std::chrono::steady_clock::now() < deadline);
  return screen;
}

struct Look {
  const char* keys;  // tmux key names, typed before the screen is taken
  const char* golden;
};

void CheckScreens(const char* medium, const std::vector<Look>& looks) {
  TmuxServer tmux;
  // The status line is off before the window exists, so the menu starts on all 25 rows.
  tmux.Run(
      std::string("start-server \\; set-option -g status off \\; new-session -d -x 80 -y 25 ") +
      "-s menu '" + VELA_BINARY_DIR + "/bin/menu_driver " + medium + "'");
  for (const Look& look : looks) {
    if (*look.keys != '\0') {
      tmux.Run(std::string("send-keys -t menu ") + look.keys);
    }
    std::string path = std::string(VELA_SOURCE_DIR) + "/tests/flows/golden/" + look.golden;
    if (getenv("VELA_UPDATE_GOLDEN") != nullptr) {
      WriteTestFile(path, ScreenWhenSettled(tmux, ""));
      continue;
    }
    std::string golden = ReadWholeTestFile(path);
    EXPECT_EQ(ScreenWhenSettled(tmux, golden), golden) << look.golden;
  }
}

TEST(PackageMenuScreen, FirstScreenAndAMoveThatSelectsWhatIsNeeded) {
  if (!HaveTmux()) {
    GTEST_SKIP() << "needs tmux";
  }
  CheckScreens("first", {{"", "first.txt"}, {"Right Down Down Space", "first_vpn.txt"}});
}

TEST(PackageMenuScreen, SixtyPackagesScrollInAWindowAboveTheDetails) {
  if (!HaveTmux()) {
    GTEST_SKIP() << "needs tmux";
  }
  CheckScreens("sixty", {{"", "sixty.txt"},
                         {"Right Down n n n n n n n n n n n n n n n n", "sixty_down.txt"}});
}

TEST(PackageMenuScreen, LongNamesAreCutAtTheirColumn) {
  if (!HaveTmux()) {
    GTEST_SKIP() << "needs tmux";
  }
  CheckScreens("long", {{"", "long.txt"}, {"Right Right a", "long_last.txt"}});
}

}  // namespace
