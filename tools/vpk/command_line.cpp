#include "tools/vpk/command_line.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "packages/roots.h"

namespace {

const KnownOption* FindOption(const std::vector<KnownOption>& known, const std::string& name,
                              char letter) {
  for (const KnownOption& match : known) {
    if ((letter != 0 && match.letter == letter) || (letter == 0 && name == match.name)) {
      return &match;
    }
  }
  return nullptr;
}

bool ParseOption(int argc, char** argv, int* index, const std::vector<KnownOption>& known,
                 ParsedArguments* parsed) {
  std::string argument = argv[*index];
  std::string name, value;
  bool hasValue = false;
  char letter = 0;
  if (argument.compare(0, 2, "--") == 0) {
    std::size_t equals = argument.find('=');
    name = argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    hasValue = equals != std::string::npos;
    value = hasValue ? argument.substr(equals + 1) : "";
  } else if (argument.size() == 2) {
    letter = argument[1];
  }
  const KnownOption* match = FindOption(known, name, letter);
  if (match == nullptr) {
    std::fprintf(stderr, "vpk: %s: unknown option '%s' (see --help)\n", argv[0], argv[*index]);
    return false;
  }
  if (hasValue && !match->takesValue) {
    std::fprintf(stderr, "vpk: %s: --%s takes no value\n", argv[0], match->name);
    return false;
  }
  if (match->takesValue && !hasValue) {
    if (*index + 1 >= argc) {
      std::fprintf(stderr, "vpk: %s: --%s needs a value\n", argv[0], match->name);
      return false;
    }
    value = argv[++*index];
  }
  parsed->options.emplace_back(match->name, value);
  return true;
}

}  // namespace

bool ParseArguments(int argc, char** argv, const std::vector<KnownOption>& known,
                    ParsedArguments* parsed) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      parsed->operands.push_back(argument);
    } else if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "--help") {
      parsed->help = true;
    } else if (!ParseOption(argc, argv, &i, known, parsed)) {
      return false;
    }
  }
  return true;
}

bool ParseUnsigned(const std::string& text, std::uint64_t max, const char* what,
                   std::uint64_t* value) {
  bool hex = text.compare(0, 2, "0x") == 0 || text.compare(0, 2, "0X") == 0;
  std::string digits = hex ? text.substr(2) : text;
  const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
  errno = 0;
  unsigned long long parsed = 0;
  bool ok = !digits.empty() && digits.find_first_not_of(allowed) == std::string::npos;
  if (ok) {
    parsed = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
    ok = errno == 0 && parsed <= max;
  }
  if (!ok) {
    std::fprintf(stderr, "vpk: cannot use '%s' as %s (a number from 0 to %llu)\n", text.c_str(),
                 what, static_cast<unsigned long long>(max));
    return false;
  }
  *value = parsed;
  return true;
}

bool ParseSigned32(const std::string& text, const char* what, std::int32_t* value) {
  std::size_t start = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
  std::uint64_t magnitude = 0;
  bool negative = start == 1 && text[0] == '-';
  bool ok = text.size() > start && text.find_first_not_of("0123456789", start) == std::string::npos;
  if (ok) {
    errno = 0;
    magnitude = std::strtoull(text.c_str() + start, nullptr, 10);
    ok = errno == 0 && magnitude <= (negative ? 2147483648ULL : 2147483647ULL);
  }
  if (!ok) {
    std::fprintf(stderr,
                 "vpk: cannot use '%s' as %s (a whole number from -2147483648 to "
                 "2147483647)\n",
                 text.c_str(), what);
    return false;
  }
  *value = static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(magnitude)
                                              : static_cast<std::int64_t>(magnitude));
  return true;
}

bool TargetTreeExists(const char* command) {
  const std::string& root = GetPackageRoots().target;
  if (root.empty()) {
    // An empty root would make every path of the tree one of the running system.
    std::fprintf(stderr, "vpk: %s: no tree at '' (--root needs a directory)\n", command);
    return false;
  }
  struct stat status;
  if (stat(root.c_str(), &status) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      std::fprintf(stderr, "vpk: %s: no tree at %s (create the directory first)\n", command,
                   root.c_str());
    } else {
      std::fprintf(stderr, "vpk: %s: %s: %s\n", command, root.c_str(), std::strerror(errno));
    }
    return false;
  }
  if (!S_ISDIR(status.st_mode)) {
    std::fprintf(stderr, "vpk: %s: %s is not a directory\n", command, root.c_str());
    return false;
  }
  return true;
}
