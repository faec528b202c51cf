#include "packages/post_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "packages/database_files.h"
#include "packages/package_database.h"
#include "packages/roots.h"
#include "platform/platform.h"
#include "streams/exact_io.h"

namespace {

constexpr std::size_t kReservedSize = 4096;
// The whole log that is read back; a log written by SavePostLog stays far below it.
constexpr std::size_t kMaxPostLogSize = 1 << 20;

std::string PostLogPath() {
  return TargetPath("/postlog");
}

// Writes text and closes fd. Errors are ignored on purpose: the post-installation log is best
// effort, and nobody is left to tell about it.
void WriteAndClose(int fd, std::string_view text) {
  bool written = WriteAll(fd, text.data(), text.size());
  if (close(fd) != 0 || !written) {
    return;
  }
}

void AppendCompleteLines(std::string_view text) {
  auto& log = GetPackageDatabase().log;
  for (std::size_t end; (end = text.find('\n')) != std::string_view::npos;) {
    log.emplace_back(text.substr(0, end));
    text.remove_prefix(end + 1);
  }
}

}  // namespace

void ReadPostLog() {
  std::string text;
  // A log too large to be ours is damage; none of it is taken.
  if (ReadDatabaseFile(PostLogPath(), kMaxPostLogSize, text) == FileStatus::kRead) {
    AppendCompleteLines(text);
  }
  int fd = open(PostLogPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd >= 0) {
    WriteAndClose(fd, std::string(kReservedSize, '\0'));
  }
  GetPackageDatabase().postLogReserved = true;
}

void SavePostLog() {
  const PackageDatabase& db = GetPackageDatabase();
  const auto& log = db.log;
  if (!db.postLogReserved && log.empty()) {
    return;
  }
  int mode = db.postLogReserved ? O_TRUNC : O_APPEND;
  int fd = open(PostLogPath().c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | mode, 0666);
  if (fd < 0) {
    return;
  }
  SyncFileSystems();
  std::string text;
  for (const std::string& line : log) {
    text += line + "\n";
  }
  WriteAndClose(fd, text);
}
