#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The arguments of a vpk subcommand: long options ("--name VALUE" or "--name=VALUE"), a few
// one-letter forms, and operands. "--" ends the options.

struct KnownOption {
  const char* name;  // long name without the dashes
  char letter;       // one-letter form, or 0
  bool takesValue;
};

struct ParsedArguments {
  std::vector<std::pair<std::string, std::string>> options;  // long name and value, in order
  std::vector<std::string> operands;
  bool help = false;  // --help was given
};

// Parses argv[1..argc-1] (argv[0] is the subcommand). Prints "vpk: COMMAND: ..." and returns
// false for an unknown option, a value given to an option without one, or a missing value.
bool ParseArguments(int argc, char** argv, const std::vector<KnownOption>& known,
                    ParsedArguments* parsed);

// Reads an unsigned decimal, or hexadecimal after "0x", of at most max. Prints
// "vpk: cannot use '...' as WHAT" and returns false otherwise.
bool ParseUnsigned(const std::string& text, std::uint64_t max, const char* what,
                   std::uint64_t* value);

// Reads a signed decimal in the range of a 32-bit integer; prints an error and returns false
// otherwise.
bool ParseSigned32(const std::string& text, const char* what, std::int32_t* value);

// True when the target tree that --root names (default /flash) is a directory. Otherwise prints
// "vpk: COMMAND: no tree at DIR (create the directory first)", "vpk: COMMAND: DIR is not a
// directory", or for an empty DIR (which would be the running system's root) "vpk: COMMAND: no
// tree at '' (--root needs a directory)", and returns false: a mistyped --root never grows a
// stray tree.
bool TargetTreeExists(const char* command);
