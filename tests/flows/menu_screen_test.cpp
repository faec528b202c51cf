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

// Runs one tmux command on the server of that socket; what it printed.
std::string Tmux(const std::string& socket, const std::string& arguments) {
  std::string command = "tmux -S " + socket + " -f /dev/null " + arguments + " 2>/dev/null";
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

// The pane as text, polled until it shows the golden screen or two seconds have passed.
std::string ScreenWhenSettled(const std::string& socket, const std::string& golden) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  std::string screen;
  do {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    screen = Tmux(socket, "capture-pane -p -t menu");
  } while (screen != golden && std::chrono::steady_clock::now() < deadline);
  return screen;
}

struct Look {
  const char* keys;  // tmux key names, typed before the screen is taken
  const char* golden;
  const char* noise = "";  // written to the pane's terminal before the keys, as line noise
};

// Writes the bytes to the terminal that the pane shows, as if the program had written them.
void WriteToPane(const std::string& socket, const std::string& bytes) {
  std::string tty = Tmux(socket, "display-message -p -t menu '#{pane_tty}'");
  tty.erase(tty.find_last_not_of('\n') + 1);
  if (FILE* pane = fopen(tty.c_str(), "w")) {
    fputs(bytes.c_str(), pane);
    fclose(pane);
  } else {
    ADD_FAILURE() << "cannot open the pane's terminal " << tty;
  }
}

void CheckScreens(const char* medium, const std::vector<Look>& looks) {
  // A server of its own; the status line is off before the window exists, so the menu starts on
  // all 25 rows.
  TemporaryDirectory directory;
  const std::string socket = directory / "socket";
  Tmux(socket,
       std::string("start-server \\; set-option -g status off \\; new-session -d -x 80 -y 25 ") +
           "-s menu '" + VELA_BINARY_DIR + "/bin/menu_driver " + medium + "'");
  for (const Look& look : looks) {
    if (*look.noise != '\0') {
      WriteToPane(socket, look.noise);
    }
    if (*look.keys != '\0') {
      Tmux(socket, std::string("send-keys -t menu ") + look.keys);
    }
    std::string path = std::string(VELA_SOURCE_DIR) + "/tests/flows/golden/" + look.golden;
    if (getenv("VELA_UPDATE_GOLDEN") != nullptr) {
      WriteTestFile(path, ScreenWhenSettled(socket, ""));
      continue;
    }
    std::string golden = ReadWholeTestFile(path);
    EXPECT_EQ(ScreenWhenSettled(socket, golden), golden) << look.golden;
  }
  Tmux(socket, "kill-server");
}

TEST(PackageMenuScreen, MatchesTheGoldenScreens) {
  if (system("tmux -V >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "needs tmux";
  }
  // A move that selects what is needed; function keys that do nothing and Ctrl-L after line
  // noise; sixty packages scroll in a window above the details; long names are cut at their
  // column.
  CheckScreens("first", {{"", "first.txt"},
                         {"Right Down Down Space", "first_vpn.txt"},
                         {"F1 F2 F5 C-l", "first_vpn.txt", "\033[2J\033[12;30Hnoise\033[H~~~"}});
  CheckScreens("sixty", {{"", "sixty.txt"},
                         {"Right Down n n n n n n n n n n n n n n n n", "sixty_down.txt"}});
  CheckScreens("long", {{"", "long.txt"}});
}

}  // namespace
