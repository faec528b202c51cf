#include "packages/version.h"

#include <cstdio>
#include <cstring>

namespace {

struct ReleaseSuffix {
  std::uint8_t type;
  const char* text;
};

constexpr ReleaseSuffix releaseSuffixes[] = {
    {kReleaseAlpha, "alpha"},
    {kReleaseBeta, "beta"},
    {kReleaseCandidate, "rc"},
};

const char* SuffixOf(std::uint8_t type) {
  for (const ReleaseSuffix& suffix : releaseSuffixes) {
    if (suffix.type == type) {
      return suffix.text;
    }
  }
  return "";
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Consumes a decimal number with a value up to 255 from the front of text.
bool TakeByte(std::string_view& text, std::uint8_t& out) {
  std::size_t digits = 0;
  unsigned value = 0;
  while (digits < text.size() && IsDigit(text[digits])) {
    value = value * 10 + unsigned(text[digits] - '0');
    if (value > 255) {
      return false;
    }
    ++digits;
  }
  if (digits == 0) {
    return false;
  }
  out = std::uint8_t(value);
  text.remove_prefix(digits);
  return true;
}

// Consumes the suffix that names a pre-release type, if text starts with one.
bool TakeSuffix(std::string_view& text, std::uint8_t& type) {
  for (const ReleaseSuffix& suffix : releaseSuffixes) {
    if (text.starts_with(suffix.text)) {
      type = suffix.type;
      text.remove_prefix(std::strlen(suffix.text));
      return true;
    }
  }
  return false;
}

}  // namespace

const char* VersionText(PackageVersion version) {
  static char buffer[80];
  unsigned major = version >> 24;
  unsigned minor = (version >> 16) & 0xff;
  std::uint8_t type = (version >> 8) & 0xff;
  unsigned revision = version & 0xff;
  if (type == kReleaseFinal && revision != 0) {
    std::snprintf(buffer, sizeof buffer, "%u.%u.%u", major, minor, revision);
  } else if (revision != 0) {
    std::snprintf(buffer, sizeof buffer, "%u.%u%s%u", major, minor, SuffixOf(type), revision);
  } else {
    std::snprintf(buffer, sizeof buffer, "%u.%u%s", major, minor, SuffixOf(type));
  }
  return buffer;
}

bool ParseVersion(std::string_view text, PackageVersion& out) {
  std::uint8_t major = 0, minor = 0, revision = 0;
  std::uint8_t type = kReleaseFinal;
  if (!TakeByte(text, major) || !text.starts_with('.')) {
    return false;
  }
  text.remove_prefix(1);
  if (!TakeByte(text, minor)) {
    return false;
  }
  if (text.starts_with('.')) {
    text.remove_prefix(1);
    if (!TakeByte(text, revision)) {
      return false;
    }
  } else if (TakeSuffix(text, type) && !text.empty()) {
    if (!TakeByte(text, revision)) {
      return false;
    }
  }
  if (!text.empty()) {
    return false;
  }
  out = MakeVersion(major, minor, type, revision);
  return true;
}

bool IsValidPackageName(std::string_view name) {
  if (name.empty() || name.size() > 16 || name == "." || name == "..") {
    return false;
  }
  for (char c : name) {
    if (c <= ' ' || c > '~' || c == '/' || c == '<' || c == '=' || c == '>') {
      return false;
    }
  }
  return true;
}

bool ParseDependency(std::string_view text, Dependency& out) {
  std::size_t split = text.find_first_of("<=>");
  Dependency parsed;
  parsed.name = std::string(text.substr(0, split));
  if (!IsValidPackageName(parsed.name)) {
    return false;
  }
  if (split == std::string_view::npos) {
    out = parsed;
    return true;
  }
  std::string_view rest = text.substr(split);
  std::string_view op = rest.substr(0, rest.size() > 1 && rest[1] == '=' ? 2 : 1);
  PackageVersion version = 0;
  if (!ParseVersion(rest.substr(op.size()), version)) {
    return false;
  }
  // ParseVersion never yields a type byte of 0 or 0xff, so neither step below can wrap around or
  // reach 0, which would read as "no bound".
  if (op == "=") {
    parsed.minVersion = parsed.maxVersion = version;
  } else if (op == ">=") {
    parsed.minVersion = version;
  } else if (op == ">") {
    parsed.minVersion = version + 1;
  } else if (op == "<=") {
    parsed.maxVersion = version;
  } else if (op == "<") {
    parsed.maxVersion = version - 1;
  } else {
    return false;
  }
  out = parsed;
  return true;
}
