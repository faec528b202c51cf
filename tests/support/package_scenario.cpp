#include "tests/support/package_scenario.h"

#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "packages/database_files.h"
#include "packages/database_lookup.h"
#include "packages/database_store.h"
#include "packages/package_database.h"

namespace {

bool ReadAction(const std::string& word, std::uint32_t& action) {
  for (std::uint32_t value = 1; value < 4; ++value) {
    if (word == scheduledActionWords[value]) {
      action = value;
      return true;
    }
  }
  return false;
}

// Reads "D" or "D/P" into a provides entry.
bool ReadProvides(const std::string& text, Dependency& out) {
  std::size_t slash = text.find('/');
  if (!ParseDependency(text.substr(0, slash), out)) {
    return false;
  }
  if (slash != std::string::npos) {
    out.priority = std::stoi(text.substr(slash + 1));
  }
  return true;
}

bool ReadMembership(const std::string& text, Dependency& bundle) {
  std::size_t equals = text.find('=');
  bundle.name = text.substr(0, equals);
  return equals == std::string::npos || ParseVersion(text.substr(equals + 1), bundle.minVersion);
}

bool ReadWord(const std::string& word, Package& p) {
  std::size_t colon = word.find(':');
  std::string key = word.substr(0, colon);
  std::string value = colon == std::string::npos ? "" : word.substr(colon + 1);
  Dependency d;
  if (word == "disabled") {
    return p.disabled = true;
  }
  if (word == "forced") {
    return p.userForced = true;
  }
  if (word == "bundle") {
    return p.noFileList = true;
  }
  if (key == "in") {
    return ReadMembership(value, p.bundle);
  }
  if (key == "do") {
    return ReadAction(value, p.scheduledAction);
  }
  if (key == "has") {
    if (!ReadMembership(value, d)) {
      return false;
    }
    auto& member = p.members.emplace_back(std::make_unique<PackageInfo>(d.name));
    member->version = d.minVersion;
    return true;
  }
  if (key == "prov") {
    return ReadProvides(value, p.provides.emplace_back());
  }
  if (key != "dep" && key != "conf") {
    return false;
  }
  if (!ParseDependency(value, d)) {
    return false;
  }
  (key == "dep" ? p.dependencies : p.conflicts).push_back(d);
  return true;
}

// The words that word gives for the items of list, joined by separator.
template <typename List, typename Word>
std::string Join(const List& list, Word word, const char* separator = " ") {
  std::string text;
  for (const auto& item : list) {
    text += (text.empty() ? "" : separator) + word(item);
  }
  return text;
}

}  // namespace

void AddScenarioPackages(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string name, version, word;
    if (!(words >> name)) {
      continue;
    }
    auto p = std::make_unique<Package>(name);
    bool good = (words >> version) && ParseVersion(version, p->version);
    while (good && words >> word) {
      good = ReadWord(word, *p);
    }
    ASSERT_TRUE(good) << "cannot read scenario line: " << line;
    AddPackage(std::move(p));
  }
}

void InstallScenarioPackages(const PackageTree& tree, const std::string& text) {
  AddScenarioPackages(text);
  for (const auto& p : GetPackageDatabase().Records()) {
    WriteTreeFile(tree.Target("/bin/" + p->name), p->name);
    p->files.insert("/bin/" + p->name);
    ASSERT_TRUE(StorePackage(*p)) << p->name;
  }
}

std::string ScheduledActions() {
  std::vector<Package*> scheduled;
  for (Package* p : AllPackages()) {
    if (p->scheduledAction != 0) {
      scheduled.push_back(p);
    }
  }
  return Join(scheduled, [](const Package* p) {
    return p->name + ":" + scheduledActionWords[p->scheduledAction & 3];
  });
}

std::string Names(const std::vector<Package*>& list) {
  return Join(list, [](const Package* p) { return p->name; });
}

std::vector<Package*> AllPackages() {
  std::vector<Package*> list;
  for (const auto& p : GetPackageDatabase().Records()) {
    list.push_back(p.get());
  }
  return list;
}

std::string DisplayNames(const std::vector<Package*>& list) {
  return Join(list, [](const Package* p) { return DisplayName(*p); });
}

std::string LogText() {
  return Join(
      GetPackageDatabase().log, [](const std::string& line) { return line; }, "\n");
}
