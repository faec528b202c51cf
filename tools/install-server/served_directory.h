#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// The directory install-server serves:
//
//   DIR/drivers/RELEASE.vpk   the driver package for routers whose kernel release is RELEASE
//   DIR/drivers/default.vpk   the driver package for every other router
//   DIR/packages/NAME         the package files and ".scr" configuration files of the profiles
//
// and the profiles that say which files of DIR/packages each router gets. Every name is resolved
// beneath DIR: a link that leads out of it is refused, whoever planted it.

// One file a router is sent: where it lies below the directory, the name it is announced under and
// its size when the directory was read (a router is told the size of the file as it is opened).
struct ServedFile {
  std::string path;      // DIR/relative, for messages
  std::string relative;  // "packages/NAME" or "drivers/NAME"
  std::string name;
  int64_t size = 0;
};

// A package set: files in the order they are sent, and whether the router keeps its configuration.
// Conversations hold it by reference, so a reload leaves the ones under way as they are.
struct Profile {
  std::string root;  // DIR
  std::string name;
  bool keep = false;
  std::vector<ServedFile> files;
};

// Whether DIR/drivers/default.vpk must be there: routers without a driver package of their own
// would otherwise wait for their drivers for ever (--no-default-drivers makes it optional).
enum class DefaultDrivers { kRequired, kOptional };

// Everything served, as read at start or at the last reload.
struct ServedDirectory {
  std::string root;
  std::vector<std::shared_ptr<const Profile>> profiles;
  std::map<uint64_t, size_t> routerProfiles;  // packed hardware address -> index into profiles
  int defaultProfile = -1;                    // for unlisted routers; -1: they get no offer
};

// Reads the profile file at profilesPath (or, when it is empty, makes one profile "default" of
// every file in DIR/packages: package files by name, then ".scr" files by name, no keep) and looks
// up every file. Prints "install-server: ..." and returns false when a file is missing, not a
// regular file, leads out of DIR, or a profile holds more than one conversation can carry; and,
// when drivers/default.vpk is required, when it cannot be served. Warns about a profile without
// files.
bool LoadServedDirectory(const std::string& root, const std::string& profilesPath,
                         DefaultDrivers defaultDrivers, ServedDirectory& out);

// The profile of the router with this hardware address; empty when there is none for it.
std::shared_ptr<const Profile> ProfileFor(const ServedDirectory& served, const uint8_t* address);

// The driver package for the kernel release a router sent: DIR/drivers/RELEASE.vpk when the
// release is a plain name and that file exists, else DIR/drivers/default.vpk. False (with a
// message) when neither is a regular file inside DIR that one conversation can carry.
bool ChooseDriverFile(const ServedDirectory& served, const std::string& release, ServedFile& out);

// Opens DIR/relative for reading, resolved beneath DIR (no link out of it, no "..", no magic
// links) and without blocking on a special file. The descriptor, or -1 with errno (EXDEV or
// ELOOP for a name that leads out).
int OpenBeneath(const std::string& root, const std::string& relative);

// Answers one conversation sends at most besides the files' data (offer, handshake, end of the
// list, farewell), and the answers that carry one file of `size` bytes.
constexpr int64_t kConversationAnswers = 5;
int64_t AnswersForFile(int64_t size);

// Routers compare the 16-bit sequence number on the wire without wrapping: one conversation
// carries at most this many datagrams, about 255 MiB of files.
constexpr int64_t kMostAnswers = 65535;
// The size in the FILE header is a signed 32-bit number at the router.
constexpr int64_t kLargestFile = INT32_MAX;
