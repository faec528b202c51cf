#include "tools/install-server/served_directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "net/datagram.h"
#include "net/hardware_address.h"
#include "tools/install-server/profile_file.h"

namespace {

constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

// Kernels without openat2: every component opened with O_NOFOLLOW, which refuses links even
// where they would stay inside; names here are "packages/NAME" or "drivers/NAME".
int OpenWithoutLinks(int directory, const std::string& relative) {
  size_t slash = relative.find('/');
  if (slash == std::string::npos) {
    return openat(directory, relative.c_str(), kOpenFlags | O_NOFOLLOW);
  }
  std::string first = relative.substr(0, slash);
  if (first == "..") {
    errno = EXDEV;
    return -1;
  }
  int inner = openat(directory, first.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (inner < 0) {
    return -1;
  }
  int file = OpenWithoutLinks(inner, relative.substr(slash + 1));
  int saved = errno;
  close(inner);
  errno = saved;
  return file;
}

// Looks the file up as a router would get it; false with a message when it cannot be served.
bool LookUpFile(const std::string& root, const std::string& relative, const std::string& name,
                ServedFile& out) {
  std::string path = root + "/" + relative;
  int file = OpenBeneath(root, relative);
  if (file < 0) {
    bool outside = errno == EXDEV || errno == ELOOP;
    if (outside) {
      fprintf(stderr, "install-server: %s leads out of the served directory (refused)\n",
              path.c_str());
    } else {
      fprintf(stderr, "install-server: cannot open %s: %s\n", path.c_str(), strerror(errno));
    }
    return false;
  }
  struct stat status;
  bool regular = fstat(file, &status) == 0 && S_ISREG(status.st_mode);
  close(file);
  if (!regular) {
    fprintf(stderr, "install-server: %s is not a regular file\n", path.c_str());
    return false;
  }
  if (status.st_size > kLargestFile) {
    fprintf(stderr, "install-server: %s is larger than a router can take\n", path.c_str());
    return false;
  }
  out = ServedFile{path, relative, name, status.st_size};
  return true;
}

bool EndsWithScr(const std::string& name) {
  return name.size() > 4 && name.compare(name.size() - 4, 4, ".scr") == 0;
}

// True when DIR/packages/NAME is a regular file inside DIR; a link leading out is skipped aloud.
bool IsServableEntry(const std::string& root, const std::string& name) {
  int file = OpenBeneath(root, "packages/" + name);
  if (file < 0) {
    if (errno == EXDEV || errno == ELOOP) {
      fprintf(stderr,
              "install-server: %s/packages/%s leads out of the served directory (skipped)\n",
              root.c_str(), name.c_str());
    }
    return false;
  }
  struct stat status;
  bool regular = fstat(file, &status) == 0 && S_ISREG(status.st_mode);
  close(file);
  return regular;
}

// Every servable regular file of DIR/packages: package files by name, then ".scr" files by name,
// so that a configuration file is written after the packages that might bring the same file.
bool ListPackageDirectory(const std::string& root, std::vector<std::string>& names) {
  std::string directory = root + "/packages";
  DIR* listing = opendir(directory.c_str());
  if (listing == nullptr) {
    perror(("install-server: " + directory).c_str());
    return false;
  }
  while (dirent* entry = readdir(listing)) {
    std::string name = entry->d_name;
    if (IsServableName(name) && IsServableEntry(root, name)) {
      names.push_back(name);
    }
  }
  closedir(listing);
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return EndsWithScr(a) != EndsWithScr(b) ? EndsWithScr(b) : a < b;
  });
  return true;
}

bool ReadProfileFile(const std::string& root, const std::string& path, ProfileFile& out) {
  if (path.empty()) {
    ProfileEntry entry{.name = "default", .keep = false, .files = {}};
    out.profiles.push_back(entry);
    return ListPackageDirectory(root, out.profiles[0].files);
  }
  std::ifstream file(path);
  std::ostringstream text;
  if (!file || !(text << file.rdbuf())) {
    fprintf(stderr, "install-server: cannot read the profile file %s\n", path.c_str());
    return false;
  }
  return ParseProfileFile(text.str(), path, out);
}

bool ResolveProfile(const std::string& root, const ProfileEntry& entry, Profile& out) {
  out.root = root;
  out.name = entry.name;
  out.keep = entry.keep;
  int64_t answers = kConversationAnswers;
  for (const std::string& name : entry.files) {
    ServedFile file;
    if (!LookUpFile(root, "packages/" + name, name, file)) {
      return false;
    }
    answers += AnswersForFile(file.size);
    out.files.push_back(file);
  }
  if (answers > kMostAnswers) {
    fprintf(stderr,
            "install-server: profile '%s' needs %lld datagrams; one conversation carries %lld "
            "(about 255 MiB)\n",
            entry.name.c_str(), (long long)answers, (long long)kMostAnswers);
    return false;
  }
  if (out.files.empty()) {
    // Its routers would erase their disks and report an installation of nothing.
    fprintf(stderr, "install-server: warning: profile '%s' has no files\n", entry.name.c_str());
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

int OpenBeneath(const std::string& root, const std::string& relative) {
  int directory = open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) {
    return -1;
  }
  open_how how{};
  how.flags = kOpenFlags;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  int file = int(syscall(SYS_openat2, directory, relative.c_str(), &how, sizeof how));
  if (file < 0 && errno == ENOSYS) {
    file = OpenWithoutLinks(directory, relative);
  }
  int saved = errno;
  close(directory);
  errno = saved;
  return file;
}

int64_t AnswersForFile(int64_t size) {
  // The FILE header, the data datagrams and the empty one that ends the file.
  return 1 + (size + kMaxPayload - 1) / kMaxPayload + 1;
}

bool LoadServedDirectory(const std::string& root, const std::string& profilesPath,
                         DefaultDrivers defaultDrivers, ServedDirectory& out) {
  ServedFile driver;
  if (defaultDrivers == DefaultDrivers::kRequired &&
      !LookUpFile(root, "drivers/default.vpk", "default.vpk", driver)) {
    // Routers without it would wait for their drivers for ever.
    fprintf(stderr, "install-server: give --no-default-drivers to serve without it\n");
    return false;
  }
  ProfileFile file;
  if (!ReadProfileFile(root, profilesPath, file)) {
    return false;
  }
  out.root = root;
  out.profiles.clear();
  for (size_t i = 0; i < file.profiles.size(); ++i) {
    auto profile = std::make_shared<Profile>();
    if (!ResolveProfile(root, file.profiles[i], *profile)) {
      return false;
    }
    out.profiles.push_back(profile);
    if (file.profiles[i].name == "default") {
      out.defaultProfile = int(i);
    }
  }
  out.routerProfiles = file.routers;
  return true;
}

std::shared_ptr<const Profile> ProfileFor(const ServedDirectory& served, const uint8_t* address) {
  auto found = served.routerProfiles.find(PackHardwareAddress(address));
  if (found != served.routerProfiles.end()) {
    return served.profiles[found->second];
  }
  return served.defaultProfile < 0 ? nullptr : served.profiles[size_t(served.defaultProfile)];
}

bool ChooseDriverFile(const ServedDirectory& served, const std::string& release, ServedFile& out) {
  std::string name = "default.vpk";
  if (IsPlainRelease(release)) {
    int special = OpenBeneath(served.root, "drivers/" + release + ".vpk");
    if (special >= 0) {
      close(special);
      name = release + ".vpk";
    }
  }
  int file = OpenBeneath(served.root, "drivers/" + name);
  if (file < 0 && errno == ENOENT) {
    return false;  // served with --no-default-drivers: such routers get no offer, quietly
  }
  if (file >= 0) {
    close(file);
  }
  if (!LookUpFile(served.root, "drivers/" + name, name, out)) {
    return false;
  }
  if (kConversationAnswers + AnswersForFile(out.size) > kMostAnswers) {
    fprintf(stderr, "install-server: %s is larger than one conversation carries\n",
            out.path.c_str());
    return false;
  }
  return true;
}
