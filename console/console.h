#pragma once

#include <termios.h>

#include <cstddef>

// The saved terminal attributes of standard input while raw mode is in force.
struct ConsoleState {
  termios savedAttributes{};
  int rawActive = 0;  // 1 while raw mode is in force
};

// The saved terminal attributes of standard input for the whole run.
extern ConsoleState processConsole;

// The front-panel LCD character device, or -1 when there is none; opened at start.
extern int lcdDescriptor;

// Switches standard input to raw mode (no line editing, no echo, one byte at a time), saving the
// old attributes in `state`. Does nothing while `state` is already raw.
void EnterRawMode(ConsoleState& state);

// Undoes EnterRawMode when it is in force, then shows the cursor.
void RestoreConsole(ConsoleState& state);

// Resets the character attributes, then sets those of the mask: 1 underline, 2 reverse video,
// 4 blink, 8 bold.
void SetAttributes(unsigned mask);

// Reads the next byte of standard input: the byte, or -1 at the end of input or on a read error.
// An interrupt that arrives while it waits is carried out here.
int ReadConsoleByte();

// Asks "question [y/n]:" until 'y' or 'n' (either case) is pressed, ringing the bell at any other
// byte; echoes the lower-case answer. Returns true for yes; the end of input counts as no and
// prints nothing more.
bool AskYesNo(const char* question);

// Where PrintLine puts a line: at the left edge, or centred on the 80 columns.
enum class LineAlignment { kLeft, kCentred };

// Prints `count` bytes of `text` as they are and a line end; centred, first (80 - count) / 2
// blanks.
void PrintLine(const char* text, size_t count, LineAlignment alignment);

// Prints a zero-terminated text word-wrapped in lines of at most 77 characters of words and blanks,
// each line ending in one blank. A longer word stands alone on its line, whole.
void PrintWrapped(const char* text);

// Enters raw mode on the process-wide console, clears the screen, hides the cursor and shows the
// banner with the mode label; writes the LCD label when there is a front-panel LCD.
void ShowWelcome(const char* modeLabel);

// The product's name, as the screens show it.
inline constexpr const char* kProductName = "Corvanta";
