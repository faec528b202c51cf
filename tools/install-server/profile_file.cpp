#include "tools/install-server/profile_file.h"

#include <cstdio>
#include <sstream>

#include "net/hardware_address.h"

namespace {

// Names are used by routers up to their first 31 characters; a longer name would arrive cut.
constexpr size_t kLongestName = 31;

std::vector<std::string> Words(const std::string& line) {
  std::istringstream stream(line.substr(0, line.find('#')));
  std::vector<std::string> words;
  std::string word;
  while (stream >> word) {
    words.push_back(word);
  }
  return words;
}

int FindProfile(const ProfileFile& file, const std::string& name) {
  for (size_t i = 0; i < file.profiles.size(); ++i) {
    if (file.profiles[i].name == name) {
      return int(i);
    }
  }
  return -1;
}

// A profile line: "profile NAME keep|erase FILE...". Returns the problem, or "" when it is good.
std::string AddProfile(const std::vector<std::string>& words, ProfileFile& out) {
  if (words.size() < 3 || (words[2] != "keep" && words[2] != "erase")) {
    return "expected 'profile NAME keep|erase FILE...'";
  }
  if (!IsServableName(words[1])) {
    return "cannot use '" + words[1] + "' as a profile name";
  }
  if (FindProfile(out, words[1]) >= 0) {
    return "profile '" + words[1] + "' is defined twice";
  }
  ProfileEntry entry{words[1], words[2] == "keep", {}};
  for (size_t i = 3; i < words.size(); ++i) {
    if (!IsServableName(words[i])) {
      return "cannot serve a file named '" + words[i] + "'";
    }
    entry.files.push_back(words[i]);
  }
  out.profiles.push_back(entry);
  return "";
}

// A router line: "router ADDRESS NAME"; the name is looked up once the whole file is read.
std::string AddRouter(const std::vector<std::string>& words,
                      std::map<uint64_t, std::string>& routers) {
  uint8_t address[kHardwareAddressSize];
  if (words.size() != 3) {
    return "expected 'router HH:HH:HH:HH:HH:HH PROFILE'";
  }
  if (!ParseHardwareAddress(words[1], address) || IsZeroAddress(address)) {
    return "cannot use '" + words[1] + "' as a hardware address";
  }
  if (!routers.emplace(PackHardwareAddress(address), words[2]).second) {
    return "router " + words[1] + " is listed twice";
  }
  return "";
}

}  // namespace

bool IsServableName(const std::string& name) {
  if (name.empty() || name.size() > kLongestName || name == "." || name == "..") {
    return false;
  }
  for (unsigned char c : name) {
    if (c == '/' || c <= ' ' || c == 0x7f) {
      return false;
    }
  }
  return true;
}

bool ParseProfileFile(const std::string& text, const std::string& label, ProfileFile& out) {
  std::map<uint64_t, std::string> routers;
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    std::vector<std::string> words = Words(line);
    std::string problem;
    if (words.empty()) {
      continue;
    } else if (words[0] == "profile") {
      problem = AddProfile(words, out);
    } else if (words[0] == "router") {
      problem = AddRouter(words, routers);
    } else {
      problem = "unknown line '" + words[0] + "'";
    }
    if (!problem.empty()) {
      fprintf(stderr, "install-server: %s:%d: %s\n", label.c_str(), number, problem.c_str());
      return false;
    }
  }
  for (const auto& [address, name] : routers) {
    int index = FindProfile(out, name);
    if (index < 0) {
      uint8_t bytes[kHardwareAddressSize];
      UnpackHardwareAddress(address, bytes);
      fprintf(stderr, "install-server: %s: router %s has the unknown profile '%s'\n", label.c_str(),
              HardwareAddressText(bytes).c_str(), name.c_str());
      return false;
    }
    out.routers[address] = size_t(index);
  }
  return true;
}
