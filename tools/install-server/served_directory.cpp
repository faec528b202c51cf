#include "tools/install-server/served_directory.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "flows/net_datagram.h"
#include "tools/install-server/hardware_address.h"
#include "tools/install-server/profile_file.h"

namespace {

// Routers compare the 16-bit sequence number on the wire without wrapping.
constexpr int64_t kMostAnswers = 65535;
// The size in the FILE header is a signed 32-bit number at the router.
constexpr int64_t kLargestFile = INT32_MAX;

bool LookUpFile(const std::string& path, const std::string& name, ServedFile* out) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
    fprintf(stderr, "install-server: %s is not a regular file\n", path.c_str());
    return false;
  }
  if (status.st_size > kLargestFile) {
    fprintf(stderr, "install-server: %s is larger than a router can take\n", path.c_str());
    return false;
  }
  *out = ServedFile{path, name, status.st_size};
  return true;
}

bool EndsWithScr(const std::string& name) {
  return name.size() > 4 && name.compare(name.size() - 4, 4, ".scr") == 0;
}

// Every servable regular file of DIR/packages: package files by name, then ".scr" files by name,
// so that a configuration file is written after the packages that might bring the same file.
bool ListPackageDirectory(const std::string& directory, std::vector<std::string>* names) {
  DIR* listing = opendir(directory.c_str());
  if (listing == nullptr) {
    perror(("install-server: " + directory).c_str());
    return false;
  }
  while (dirent* entry = readdir(listing)) {
    struct stat status;
    std::string name = entry->d_name;
    if (IsServableName(name) && stat((directory + "/" + name).c_str(), &status) == 0 &&
        S_ISREG(status.st_mode)) {
      names->push_back(name);
    }
  }
  closedir(listing);
  std::sort(names->begin(), names->end(), [](const std::string& a, const std::string& b) {
    return EndsWithScr(a) != EndsWithScr(b) ? EndsWithScr(b) : a < b;
  });
  return true;
}

bool ReadProfileFile(const std::string& root, const std::string& path, ProfileFile* out) {
  if (path.empty()) {
    ProfileEntry entry{"default", false, {}};
    out->profiles.push_back(entry);
    return ListPackageDirectory(root + "/packages", &out->profiles[0].files);
  }
  std::ifstream file(path);
  std::ostringstream text;
  if (!file || !(text << file.rdbuf())) {
    fprintf(stderr, "install-server: cannot read the profile file %s\n", path.c_str());
    return false;
  }
  return ParseProfileFile(text.str(), path, out);
}

bool ResolveProfile(const std::string& root, const ProfileEntry& entry, Profile* out) {
  out->name = entry.name;
  out->keep = entry.keep;
  int64_t answers = kConversationAnswers;
  for (const std::string& name : entry.files) {
    ServedFile file;
    if (!LookUpFile(root + "/packages/" + name, name, &file)) {
      return false;
    }
    answers += AnswersForFile(file.size);
    out->files.push_back(file);
  }
  if (answers > kMostAnswers) {
    fprintf(stderr,
            "install-server: profile '%s' needs %lld datagrams; one conversation carries %lld\n",
            entry.name.c_str(), (long long)answers, (long long)kMostAnswers);
    return false;
  }
  return true;
}

// A release names a file only when it is a plain name: no "/", no "." or "..", nothing unprintable.
bool IsPlainRelease(const std::string& release) {
  if (release.empty() || release.size() > 64 || release == "." || release == "..") {
    return false;
  }
  for (unsigned char c : release) {
    if (c == '/' || c <= ' ' || c >= 0x7f) {
      return false;
    }
  }
  return true;
}

}  // namespace

int64_t AnswersForFile(int64_t size) {
  // The FILE header, the data datagrams and the empty one that ends the file.
  return 1 + (size + kMaxPayload - 1) / kMaxPayload + 1;
}

bool LoadServedDirectory(const std::string& root, const std::string& profilesPath,
                         ServedDirectory* out) {
  ProfileFile file;
  if (!ReadProfileFile(root, profilesPath, &file)) {
    return false;
  }
  out->root = root;
  out->profiles.resize(file.profiles.size());
  for (size_t i = 0; i < file.profiles.size(); ++i) {
    if (!ResolveProfile(root, file.profiles[i], &out->profiles[i])) {
      return false;
    }
    if (file.profiles[i].name == "default") {
      out->defaultProfile = int(i);
    }
  }
  out->routerProfiles = file.routers;
  return true;
}

const Profile* ProfileFor(const ServedDirectory& served, const uint8_t* address) {
  auto found = served.routerProfiles.find(PackHardwareAddress(address));
  if (found != served.routerProfiles.end()) {
    return &served.profiles[found->second];
  }
  return served.defaultProfile < 0 ? nullptr : &served.profiles[size_t(served.defaultProfile)];
}

bool ChooseDriverFile(const ServedDirectory& served, const std::string& release, ServedFile* out) {
  std::string drivers = served.root + "/drivers/";
  struct stat status;
  std::string name = "default.vpk";
  if (IsPlainRelease(release) && stat((drivers + release + ".vpk").c_str(), &status) == 0) {
    name = release + ".vpk";
  }
  if (!LookUpFile(drivers + name, name, out)) {
    return false;
  }
  if (kConversationAnswers + AnswersForFile(out->size) > kMostAnswers) {
    fprintf(stderr, "install-server: %s is larger than one conversation carries\n",
            out->path.c_str());
    return false;
  }
  return true;
}
