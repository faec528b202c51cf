#include "tests/fuzz/fuzz_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "net/datagram.h"
#include "streams/byte_order.h"

namespace fs = std::filesystem;

void Require(bool holds, const char* what) {
  if (!holds) {
    fprintf(stderr, "fuzz check failed: %s\n", what);
    abort();
  }
}

ScratchDirectory::ScratchDirectory(const char* tag) {
  std::string pattern = std::string("/tmp/vela-fuzz-") + tag + "-XXXXXX";
  Require(mkdtemp(pattern.data()) != nullptr, "a scratch directory can be made");
  top = pattern;
  path = top;
  for (int level = 0; level < kScratchDepth; ++level) {
    path += "/d" + std::to_string(level);
  }
  path += "/root";
  std::error_code error;
  fs::create_directories(path, error);
  Require(!error, "the scratch root can be made");
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code error;
  fs::remove_all(top, error);  // best effort: the run is over either way
}

void EmptyDirectory(const std::string& path) {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(path, error)) {
    fs::remove_all(entry.path(), error);
  }
}

std::vector<std::string> ListTree(const std::string& dir) {
  std::vector<std::string> paths;
  std::error_code error;
  auto it = fs::recursive_directory_iterator(dir, fs::directory_options::none, error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    // Lexically: fs::relative would resolve a link to where it leads, even out of dir.
    paths.push_back(it->path().lexically_relative(dir).string());
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  Require(out.good(), "a scratch file can be written");
}

int CountOpenDescriptors() {
  DIR* listing = opendir("/proc/self/fd");
  Require(listing != nullptr, "/proc/self/fd can be listed");
  int count = 0;
  while (dirent* entry = readdir(listing)) {
    count += entry->d_name[0] != '.' ? 1 : 0;
  }
  closedir(listing);
  return count - 1;  // the listing's own descriptor
}

namespace {

enum EntryKind { kFile, kDirectory, kLink, kFifo, kKindCount };

// The link target to store: absolute targets are moved under base, deep climbs are refused.
bool ContainedTarget(std::string target, const std::string& base, std::string& out) {
  if (!target.empty() && target.front() == '/') {
    out = base + target;
    return true;
  }
  int climbs = 0;
  for (std::size_t at = target.find(".."); at != std::string::npos;
       at = target.find("..", at + 2)) {
    ++climbs;
  }
  out = target;
  return climbs < ScratchDirectory::kScratchDepth;
}

void MakeEntry(const std::string& path, EntryKind kind, std::string_view content,
               const std::string& base) {
  std::error_code error;
  fs::create_directories(fs::path(path).parent_path(), error);
  std::string target;
  if (kind == kLink && std::string(content).find('\0') == std::string::npos &&
      ContainedTarget(std::string(content), base, target)) {
    if (symlink(target.c_str(), path.c_str()) != 0) {
      return;  // an entry already in the place stays; the description goes on
    }
  } else if (kind == kDirectory) {
    fs::create_directories(path, error);
  } else if (kind == kFifo) {
    if (mkfifo(path.c_str(), 0644) != 0) {
      return;
    }
  } else {
    // Never through a link or into a FIFO already in the place: the one could lead out of base,
    // the other would block.
    int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                   0644);
    if (out < 0) {
      return;
    }
    if (write(out, content.data(), content.size()) != static_cast<ssize_t>(content.size())) {
      // a short file is still a description's file
    }
    close(out);
  }
}

}  // namespace

void BuildTree(std::span<const std::uint8_t> description, const std::string& base,
               std::span<const std::string> places) {
  constexpr std::size_t kRecordHead = 4;
  while (description.size() >= kRecordHead && !places.empty()) {
    const std::string& place = places[description[0] % places.size()];
    auto kind = static_cast<EntryKind>(description[1] % kKindCount);
    std::size_t length = std::min<std::size_t>(description[2] | description[3] << 8,
                                               description.size() - kRecordHead);
    std::string_view content(reinterpret_cast<const char*>(description.data() + kRecordHead),
                             length);
    MakeEntry(base + "/" + place, kind, content, base);
    description = description.subspan(kRecordHead + length);
  }
}

void ForEachDatagram(std::span<const std::uint8_t> input,
                     const std::function<void(std::uint8_t* datagram, int length)>& take) {
  while (input.size() >= 2) {
    std::size_t length =
        std::min<std::size_t>({LoadLittleEndian(input.data(), 2), input.size() - 2, kDatagramSize});
    std::uint8_t datagram[kDatagramSize] = {};
    memcpy(datagram, input.data() + 2, length);
    take(datagram, int(length));
    input = input.subspan(2 + length);
  }
}
