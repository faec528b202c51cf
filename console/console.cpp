#include "console/console.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/pending_interrupt.h"

ConsoleState processConsole;
int lcdDescriptor = -1;

namespace {
constexpr size_t kScreenWidth = 80;
constexpr size_t kWrapWidth = 77;
constexpr char kBell = 7;
}  // namespace

void EnterRawMode(ConsoleState& state) {
  if (state.rawActive == 1) {
    return;
  }
  // A console without terminal attributes (a file, a closed input) is used as it is.
  if (tcgetattr(0, &state.savedAttributes) != 0) {
    state.savedAttributes = termios{};
  }
  termios raw = state.savedAttributes;
  raw.c_lflag &= ~(ICANON | ECHO);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(0, TCSAFLUSH, &raw) != 0) {
    // Ignored on purpose: the prompts work in canonical mode too, one line at a time.
  }
  state.rawActive = 1;
}

void RestoreConsole(ConsoleState& state) {
  if (state.rawActive != 0) {
    if (tcsetattr(0, TCSAFLUSH, &state.savedAttributes) != 0) {
      // Ignored on purpose: there is nothing better to restore.
    }
    state.rawActive = 0;
  }
  fputs("\033[?25h", stdout);
}

void SetAttributes(unsigned mask) {
  fputs("\033[m", stdout);
  static const char* const sequences[] = {"\033[4m", "\033[7m", "\033[5m", "\033[1m"};
  for (unsigned bit = 0; bit < 4; ++bit) {
    if (mask & (1u << bit)) {
      fputs(sequences[bit], stdout);
    }
  }
}

int ReadConsoleByte() {
  for (;;) {
    // The wait watches the interrupt's wake-up too: an interrupt must not wait for the next key.
    if (WaitUntilReadable(0, -1) < 0 && errno != EINTR) {
      return -1;
    }
    unsigned char byte;
    ssize_t count = read(0, &byte, 1);
    if (count == 1) {
      return byte;
    }
    if (count < 0 && errno == EINTR) {
      continue;
    }
    return -1;
  }
}

bool AskYesNo(const char* question) {
  printf("%s [y/n]:", question);
  for (;;) {
    fflush(stdout);
    int byte = ReadConsoleByte();
    if (byte < 0) {
      return false;  // a closed console never confirms anything
    }
    int lowered = isalpha(byte) ? tolower(byte) : 0;
    if (lowered == 'y' || lowered == 'n') {
      printf("%c\n", lowered);
      return lowered == 'y';
    }
    putchar(kBell);
  }
}

void PrintLine(const char* text, size_t count, LineAlignment alignment) {
  if (alignment == LineAlignment::kCentred && count <= kScreenWidth) {
    printf("%*s", static_cast<int>((kScreenWidth - count) / 2), "");
  }
  fwrite(text, 1, count, stdout);
  putchar('\n');
}

void PrintWrapped(const char* text) {
  std::string line;
  const char* word = text;
  for (;;) {
    while (*word == ' ' || *word == '\n') {
      ++word;
    }
    if (*word == '\0') {
      break;
    }
    size_t length = strcspn(word, " \n");
    // An empty line is never printed ahead of a word too long for any line.
    if (line.size() + length > kWrapWidth && !line.empty()) {
      PrintLine(line.data(), line.size(), LineAlignment::kLeft);
      line.clear();
    }
    line.append(word, length).push_back(' ');
    word += length;
  }
  PrintLine(line.data(), line.size(), LineAlignment::kLeft);
}

void ShowWelcome(const char* modeLabel) {
  EnterRawMode(processConsole);
  fputs("\033[?25l", stdout);
  fputs("\033[2J\033[H", stdout);
  printf("Welcome to %s Router Software %s\n", kProductName, modeLabel);
  puts("Press Ctrl-Alt-Delete to abort");
  fflush(stdout);
  if (lcdDescriptor != -1 && write(lcdDescriptor, "netdeploy", 9) != 9) {
    // Ignored on purpose: the LCD label is a courtesy.
  }
}
