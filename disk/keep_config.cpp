#include "disk/keep_config.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "console/progress.h"
#include "packages/roots.h"
#include "platform/memory_figures.h"

namespace {

constexpr uint32_t kChunkMagic = 0x5A0937EB;

// What the copy leaves free for the rest of the installation, and its limit where the kernel
// gives no figure of available memory.
constexpr uint64_t kMemoryMargin = 16 << 20;
constexpr uint64_t kBudgetWithoutFigure = 64 << 20;

// One walk over a store. Links are followed, so a link to "/" or to a directory above it would
// copy the whole machine or loop for ever: the directories of the current path are kept to be
// refused, and the bytes copied are counted against a budget.
struct TreeWalk {
  std::vector<std::pair<dev_t, ino_t>> ancestors;
  uint64_t copied = 0;
  uint64_t budget = 0;
};

// Appends the entry of `path` and, for a directory, of everything below it, following links;
// other file types and directories already on the current path are left out. False when an
// entry cannot be read, memory runs out or the copy would exceed the walk's budget.
bool ReadTree(ConfigChunk*& current, const char* path, TreeWalk& walk);

// Appends the text with its zero, in a chunk of exactly its size when the current one lacks room.
bool AppendString(ConfigChunk*& current, const char* text);

// Appends the status record's bytes, spilling into new chunks of kChunkCapacity as needed.
bool AppendRecord(ConfigChunk*& current, const struct stat& status);

// Allocates an empty chunk of the capacity; when `toSeal` is given, links the new chunk behind it
// and seals it. Null when memory runs out.
ConfigChunk* NewChunk(uint32_t capacity, ConfigChunk* toSeal);

// Moves `current` past the chunks whose bytes are all read back. True when no chunk is left.
bool SkipExhausted(ConfigChunk*& current);

uint32_t FreeSpace(const ConfigChunk* chunk) {
  return chunk->limit - chunk->offset;
}

void Seal(ConfigChunk* chunk) {
  chunk->limit = chunk->offset;
  chunk->offset = 0;
}

// Reads the file's content straight into the chain, in pieces as large as the free space.
bool AppendContent(ConfigChunk*& current, int descriptor, off_t expectedSize) {
  off_t total = 0;
  for (;;) {
    if (FreeSpace(current) == 0) {
      ConfigChunk* next = NewChunk(kChunkCapacity, current);
      if (next == nullptr) {
        return false;
      }
      current = next;
    }
    ssize_t count = read(descriptor, current->Data() + current->offset, FreeSpace(current));
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count < 0) {
      return false;
    }
    if (count == 0) {
      return total == expectedSize;  // a file that changed size is not kept half
    }
    current->offset += static_cast<uint32_t>(count);
    total += count;
    if (total > expectedSize) {
      return false;  // growing while read: the budget counted only its size
    }
  }
}

bool ReadFileEntry(ConfigChunk*& current, const char* path, const struct stat& status) {
  int descriptor = open(path, O_RDONLY);
  if (descriptor < 0) {
    return false;
  }
  bool done = AppendString(current, path) && AppendRecord(current, status) &&
              AppendContent(current, descriptor, status.st_size);
  close(descriptor);
  return done;
}

bool OnCurrentPath(const TreeWalk& walk, const struct stat& status) {
  return std::find(walk.ancestors.begin(), walk.ancestors.end(),
                   std::make_pair(status.st_dev, status.st_ino)) != walk.ancestors.end();
}

bool ReadDirectoryEntry(ConfigChunk*& current, const char* path, const struct stat& status,
                        TreeWalk& walk) {
  if (OnCurrentPath(walk, status)) {
    return true;  // a link back up: its entries are being copied already
  }
  DIR* listing = opendir(path);
  if (listing == nullptr) {
    return false;
  }
  walk.ancestors.emplace_back(status.st_dev, status.st_ino);
  bool done = AppendString(current, path) && AppendRecord(current, status);
  while (done) {
    dirent* entry = readdir(listing);
    if (entry == nullptr) {
      break;
    }
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) {
      done = ReadTree(current, (std::string(path) + "/" + entry->d_name).c_str(), walk);
    }
  }
  walk.ancestors.pop_back();
  closedir(listing);
  return done;
}

// Copies `count` bytes out of the chain, across chunks; false when the chain ends first.
bool TakeBytes(ConfigChunk*& current, void* target, size_t count) {
  auto* out = static_cast<unsigned char*>(target);
  while (count > 0) {
    if (SkipExhausted(current)) {
      return false;
    }
    uint32_t piece = static_cast<uint32_t>(std::min<size_t>(count, FreeSpace(current)));
    memcpy(out, current->Data() + current->offset, piece);
    current->offset += piece;
    out += piece;
    count -= piece;
  }
  return true;
}

// Writes `size` bytes of content from the chain to the file, chunk piece by chunk piece.
bool WriteContent(ConfigChunk*& current, int descriptor, off_t size) {
  while (size > 0) {
    if (SkipExhausted(current)) {
      return false;
    }
    uint32_t piece = static_cast<uint32_t>(std::min<off_t>(size, FreeSpace(current)));
    if (write(descriptor, current->Data() + current->offset, piece) != piece) {
      return false;
    }
    current->offset += piece;
    size -= piece;
  }
  return true;
}

void SetTimes(const char* path, const struct stat& status) {
  timespec times[2] = {status.st_atim, status.st_mtim};
  if (utimensat(AT_FDCWD, path, times, 0) != 0) {
    // Ignored on purpose: the content is what matters; a file that could not be created (an
    // empty one) is left out this way.
  }
}

bool WriteFileEntry(ConfigChunk*& current, const char* path, const struct stat& status) {
  // An existing file is written over from its start, as the old system had it.
  int descriptor = open(path, O_WRONLY | O_CREAT, 0600);
  if (!WriteContent(current, descriptor, status.st_size)) {
    if (descriptor >= 0) {
      close(descriptor);
    }
    return false;
  }
  // The owner first: a change of owner clears the set-id bits of the mode.
  if (descriptor >= 0) {
    if (fchown(descriptor, status.st_uid, status.st_gid) != 0 ||
        fchmod(descriptor, status.st_mode & 07777) != 0) {
      // Ignored on purpose: the owner and mode are restored where the file system allows.
    }
    close(descriptor);
  }
  SetTimes(path, status);
  return true;
}

// A written directory whose times are set once all entries are: each entry written into it
// changes its modification time.
struct DirectoryTimes {
  std::string path;
  struct stat status;
};

bool WriteDirectoryEntry(const char* path, const struct stat& status,
                         std::vector<DirectoryTimes>& timesLater) {
  if (mkdir(path, 0700) != 0) {
    return false;
  }
  if (chown(path, status.st_uid, status.st_gid) != 0 || chmod(path, status.st_mode & 07777) != 0) {
    // Ignored on purpose, as for files.
  }
  timesLater.push_back({path, status});
  return true;
}

// Writes back the next entry; false on failure.
bool WriteEntry(ConfigChunk*& current, std::vector<DirectoryTimes>& timesLater) {
  const char* start = reinterpret_cast<const char*>(current->Data() + current->offset);
  const void* end = memchr(start, '\0', FreeSpace(current));
  if (end == nullptr) {
    return false;  // a path never spans chunks; without its zero the chain is damaged
  }
  std::string path(start);
  current->offset += static_cast<uint32_t>(path.size() + 1);
  struct stat status;
  if (!TakeBytes(current, &status, sizeof status)) {
    return false;
  }
  if (S_ISREG(status.st_mode)) {
    return WriteFileEntry(current, path.c_str(), status);
  }
  if (S_ISDIR(status.st_mode)) {
    return WriteDirectoryEntry(path.c_str(), status, timesLater);
  }
  return true;
}

bool WriteEntries(ConfigChunk* first) {
  if (first == nullptr || first->magic != kChunkMagic) {
    return false;
  }
  ConfigChunk* current = first;
  std::vector<DirectoryTimes> timesLater;
  bool done = true;
  while (done && !SkipExhausted(current)) {
    done = WriteEntry(current, timesLater);
  }
  for (const DirectoryTimes& directory : timesLater) {
    SetTimes(directory.path.c_str(), directory.status);
  }
  return done;
}

// How many bytes the copy may take: what the kernel says is available, less the margin.
uint64_t CopyBudget() {
  std::map<std::string, uint64_t> figures;
  if (!ReadMemoryFigures(SystemPath("/proc/meminfo"), figures) ||
      figures.count("MemAvailable") == 0) {
    return kBudgetWithoutFigure;
  }
  uint64_t available = figures["MemAvailable"] * 1024;
  return available > kMemoryMargin ? available - kMemoryMargin : 0;
}

// A walk that starts with the directories above the source on its path, so that a link to one
// of them, "/" included, is refused like a link to a directory inside the store.
TreeWalk StartWalk(const std::string& source) {
  TreeWalk walk;
  walk.budget = CopyBudget();
  for (size_t slash = source.find('/'); slash != std::string::npos;
       slash = source.find('/', slash + 1)) {
    struct stat status;
    if (stat(slash == 0 ? "/" : source.substr(0, slash).c_str(), &status) == 0) {
      walk.ancestors.emplace_back(status.st_dev, status.st_ino);
    }
  }
  return walk;
}

}  // namespace

ConfigChunk* ReadOldConfiguration() {
  struct stat status;
  std::string source = TargetPath("/vela/store");
  if (stat(source.c_str(), &status) != 0) {
    source = TargetPath("/rw/store");
    if (lstat(source.c_str(), &status) != 0) {
      return nullptr;
    }
  }
  StartProgress("Reading old configuration...");
  ConfigChunk* first = NewChunk(kChunkCapacity, nullptr);
  ConfigChunk* current = first;
  TreeWalk walk = StartWalk(source);
  if (first != nullptr && ReadTree(current, source.c_str(), walk)) {
    Seal(current);
  } else {
    FreeChunks(first);
    first = nullptr;
  }
  StopProgress();
  if (first == nullptr) {
    puts("ERROR: couldn't keep config - probably not enough memory");
  }
  return first;
}

bool WriteBackConfiguration(ConfigChunk* first) {
  StartProgress("Writing back old configuration...");
  bool done = WriteEntries(first);
  FreeChunks(first);
  StopProgress();
  if (!done) {
    puts("ERROR: couldn't write old configuration - proboably not enough space on the disk");
  }
  return done;
}

namespace {

bool ReadTree(ConfigChunk*& current, const char* path, TreeWalk& walk) {
  struct stat status;
  if (stat(path, &status) != 0) {
    return false;
  }
  if (S_ISREG(status.st_mode) || S_ISDIR(status.st_mode)) {
    uint64_t size = S_ISREG(status.st_mode) ? uint64_t(status.st_size) : 0;
    walk.copied += strlen(path) + 1 + sizeof status + size;
    if (walk.copied > walk.budget) {
      return false;
    }
  }
  if (S_ISREG(status.st_mode)) {
    return ReadFileEntry(current, path, status);
  }
  if (S_ISDIR(status.st_mode)) {
    return ReadDirectoryEntry(current, path, status, walk);
  }
  return true;  // devices, pipes and sockets are not configuration
}

bool AppendString(ConfigChunk*& current, const char* text) {
  size_t length = strlen(text) + 1;
  if (length > UINT32_MAX) {
    return false;
  }
  if (length > FreeSpace(current)) {
    ConfigChunk* next = NewChunk(static_cast<uint32_t>(length), current);
    if (next == nullptr) {
      return false;
    }
    current = next;
  }
  memcpy(current->Data() + current->offset, text, length);
  current->offset += static_cast<uint32_t>(length);
  return true;
}

bool AppendRecord(ConfigChunk*& current, const struct stat& status) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&status);
  size_t left = sizeof status;
  while (left > FreeSpace(current)) {
    uint32_t piece = FreeSpace(current);
    memcpy(current->Data() + current->offset, bytes, piece);
    current->offset += piece;
    bytes += piece;
    left -= piece;
    ConfigChunk* next = NewChunk(kChunkCapacity, current);
    if (next == nullptr) {
      return false;
    }
    current = next;
  }
  memcpy(current->Data() + current->offset, bytes, left);
  current->offset += static_cast<uint32_t>(left);
  return true;
}

ConfigChunk* NewChunk(uint32_t capacity, ConfigChunk* toSeal) {
  auto* chunk = static_cast<ConfigChunk*>(malloc(sizeof(ConfigChunk) + capacity));
  if (chunk == nullptr) {
    return nullptr;
  }
  *chunk = ConfigChunk{kChunkMagic, capacity, 0, nullptr};
  if (toSeal != nullptr) {
    toSeal->next = chunk;
    Seal(toSeal);
  }
  return chunk;
}

bool SkipExhausted(ConfigChunk*& current) {
  while (current != nullptr && current->offset == current->limit) {
    current = current->next;
  }
  return current == nullptr;
}

}  // namespace

void FreeChunks(ConfigChunk* first) {
  while (first != nullptr) {
    ConfigChunk* next = first->next;
    *first = ConfigChunk{0, 0, 0, nullptr};
    free(first);
    first = next;
  }
}
