#include "packages/database_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "packages/roots.h"

const char* const scheduledActionWords[4] = {"", "uninstall", "enable", "disable"};

bool IsSafeDirectoryName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

std::string PackageDirectory(const Package& p, Placement placement) {
  std::string absolute = TargetPath("/var/pdb/") + p.name + "/";
  // Below the working directory, a relative target root already names the directory from the
  // working directory.
  if (placement == Placement::kWorkingDirectory && absolute.front() == '/') {
    return "." + absolute;
  }
  return absolute;
}

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Appends the rest of fd to text; false on a read error or when text would exceed limit.
bool ReadAll(int fd, std::size_t limit, std::string& text) {
  char block[16384];
  for (;;) {
    ssize_t count = read(fd, block, sizeof block);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      return count == 0;
    }
    if (text.size() + std::size_t(count) > limit) {
      return false;
    }
    text.append(block, std::size_t(count));
  }
}

}  // namespace

FileStatus ReadDatabaseFile(const std::string& path, std::size_t limit, std::string& text) {
  text.clear();
  // Non-blocking, so that a FIFO planted in the database cannot stall the load.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    return FileStatus::kMissing;
  }
  struct stat status;
  bool ok = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && ReadAll(fd, limit, text);
  close(fd);  // read-only: a failing close loses nothing
  if (ok) {
    return FileStatus::kRead;
  }
  text.clear();
  return FileStatus::kDamaged;
}

std::string_view TakeWord(std::string_view& text) {
  std::size_t start = 0;
  while (start < text.size() && IsBlank(text[start])) {
    ++start;
  }
  std::size_t end = start;
  while (end < text.size() && !IsBlank(text[end])) {
    ++end;
  }
  std::string_view word = text.substr(start, end - start);
  text.remove_prefix(end);
  return word;
}

std::string_view FirstWord(std::string_view text) {
  return TakeWord(text);
}

std::string_view FirstLine(std::string_view text) {
  return text.substr(0, text.find('\n'));
}

bool WriteDatabaseFile(const std::string& path, std::string_view text) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    return false;
  }
  while (!text.empty()) {
    ssize_t count = write(fd, text.data(), text.size());
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      int error = count < 0 ? errno : EIO;
      close(fd);  // the write error is the one to report
      errno = error;
      return false;
    }
    text.remove_prefix(std::size_t(count));
  }
  return close(fd) == 0;
}

void DeleteDatabaseFile(const std::string& path) {
  if (unlink(path.c_str()) != 0) {
    return;  // deletions never report: a missing file is the usual case
  }
}
