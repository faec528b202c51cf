#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The directory install-server serves:
//
//   DIR/drivers/RELEASE.vpk   the driver package for routers whose kernel release is RELEASE
//   DIR/drivers/default.vpk   the driver package for every other router
//   DIR/packages/NAME         the package files and ".scr" configuration files of the profiles
//
// and the profiles that say which files of DIR/packages each router gets.

// One file a router is sent: where it lies, the name it is announced under and its size.
struct ServedFile {
  std::string path;
  std::string name;
  int64_t size = 0;
};

// A package set: files in the order they are sent, and whether the router keeps its configuration.
struct Profile {
  std::string name;
  bool keep = false;
  std::vector<ServedFile> files;
};

// Everything served, read once at start.
struct ServedDirectory {
  std::string root;
  std::vector<Profile> profiles;
  std::map<uint64_t, size_t> routerProfiles;  // packed hardware address -> index into profiles
  int defaultProfile = -1;                    // for unlisted routers; -1: they get no offer
};

// Reads the profile file at profilesPath (or, when it is empty, makes one profile "default" of
// every file in DIR/packages: package files by name, then ".scr" files by name, no keep) and looks
// up every file. Prints "install-server: ..." and returns false when a file is missing, not a
// regular file, or a profile holds more than one conversation can carry.
bool LoadServedDirectory(const std::string& root, const std::string& profilesPath,
                         ServedDirectory* out);

// The profile of the router with this hardware address; nullptr when there is none for it.
const Profile* ProfileFor(const ServedDirectory& served, const uint8_t* address);

// The driver package for the kernel release a router sent: DIR/drivers/RELEASE.vpk when the
// release is a plain name and that file exists, else DIR/drivers/default.vpk. False when neither
// is a regular file that one conversation can carry.
bool ChooseDriverFile(const ServedDirectory& served, const std::string& release, ServedFile* out);

// Answers one conversation sends at most besides the files' data (offer, handshake, end of the
// list, farewell), and the answers that carry one file of `size` bytes.
constexpr int64_t kConversationAnswers = 5;
int64_t AnswersForFile(int64_t size);
