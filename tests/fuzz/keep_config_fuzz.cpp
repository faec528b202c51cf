// Keeping the configuration of a damaged or hostile old store: links anywhere (back up to the
// store and its ancestors, to each other), FIFOs, files and directories in each other's places.
// Whatever the store holds, reading it must end; a copy that was made must come back whole when
// written into a fresh tree and read again, and no descriptor may stay open.
//
// Input: a tree description (see BuildTree) over the places of the two stores, laid in a scratch
// directory that is the target root.

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "disk/keep_config.h"
#include "packages/roots.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

const std::string kPlaces[] = {"vela/store",     "vela/store/a",   "vela/store/b", "vela/store/a/c",
                               "vela/store/a/d", "vela/store/b/e", "rw/store",     "rw/store/a",
                               "rw/store/a/c",   "vela",           "rw",           "other"};

bool Below(const std::string& path, const std::string& directory) {
  return path == directory || path.rfind(directory + "/", 0) == 0;
}

// A link that leads out of the root would let the reader copy the machine's own files.
void DropLinksOutOfRoot(const std::string& root) {
  for (const std::string& relative : ListTree(root)) {
    std::string path = root + "/" + relative;
    struct stat status;
    char target[PATH_MAX];
    if (lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode) &&
        realpath(path.c_str(), target) != nullptr && !Below(target, root)) {
      unlink(path.c_str());
    }
  }
}

// The chain's entries as comparable lines: path, type and permissions, owner, modification time
// and, for a file, its content. The chain is left as it was.
std::vector<std::string> Entries(ConfigChunk* first) {
  std::string bytes;
  for (ConfigChunk* chunk = first; chunk != nullptr; chunk = chunk->next) {
    bytes.append(reinterpret_cast<const char*>(chunk->Data()), chunk->limit);
  }
  std::vector<std::string> entries;
  for (size_t at = 0; at < bytes.size();) {
    size_t end = bytes.find('\0', at);
    Require(end != std::string::npos && end + 1 + sizeof(struct stat) <= bytes.size(),
            "an entry holds a path and a status record");
    struct stat status;
    memcpy(&status, bytes.data() + end + 1, sizeof status);
    std::string entry = bytes.substr(at, end - at) + " " + std::to_string(status.st_mode) + " " +
                        std::to_string(status.st_uid) + ":" + std::to_string(status.st_gid) + " " +
                        std::to_string(status.st_mtim.tv_sec) + "." +
                        std::to_string(status.st_mtim.tv_nsec);
    at = end + 1 + sizeof status;
    if (S_ISREG(status.st_mode)) {
      Require(uint64_t(status.st_size) <= bytes.size() - at, "a file's content is in the chain");
      entry += " " + bytes.substr(at, size_t(status.st_size));
      at += size_t(status.st_size);
    }
    entries.push_back(entry);
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

// The fresh tree of a new system, with the base directories the writing back expects.
void FreshTree(const std::string& root) {
  EmptyDirectory(root);
  mkdir((root + "/vela").c_str(), 0755);
  mkdir((root + "/rw").c_str(), 0755);
}

// The progress dots take the alarm signal and timer, which libFuzzer's own time limits use:
// they are given back once the code under test returns.
class AlarmKeeper {
 public:
  AlarmKeeper() {
    sigaction(SIGALRM, nullptr, &handler);
    getitimer(ITIMER_REAL, &timer);
  }
  ~AlarmKeeper() {
    sigaction(SIGALRM, &handler, nullptr);
    setitimer(ITIMER_REAL, &timer, nullptr);
  }
  AlarmKeeper(const AlarmKeeper&) = delete;
  AlarmKeeper& operator=(const AlarmKeeper&) = delete;

 private:
  struct sigaction handler {};
  itimerval timer{};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ScratchDirectory scratch("keep-config");
  GetPackageRoots().target = scratch.Path();
  AlarmKeeper alarm;
  EmptyDirectory(scratch.Path());
  BuildTree({data, size}, scratch.Path(), kPlaces);
  DropLinksOutOfRoot(scratch.Path());
  int descriptors = CountOpenDescriptors();
  ConfigChunk* old = ReadOldConfiguration();
  Require(CountOpenDescriptors() == descriptors, "reading closes every descriptor it opened");
  if (old == nullptr) {
    return 0;  // no store, or one that cannot be kept: nothing to compare
  }
  std::vector<std::string> kept = Entries(old);
  FreshTree(scratch.Path());
  Require(WriteBackConfiguration(old), "a copy that was read can be written back");
  Require(CountOpenDescriptors() == descriptors, "writing closes every descriptor it opened");
  ConfigChunk* again = ReadOldConfiguration();
  std::vector<std::string> back = again == nullptr ? std::vector<std::string>{} : Entries(again);
  FreeChunks(again);
  Require(back == kept, "the store comes back as it was read");
  return 0;
}
