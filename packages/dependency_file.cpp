#include "packages/dependency_file.h"

#include "packages/database_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>

namespace {

bool Fail(std::string* error, const std::string& reason) {
  if (error) {
    *error = reason;
  }
  return false;
}

// Reads the whole of an open descriptor, refusing more than kMaxDependencyFileSize bytes.
bool ReadBounded(int fd, const std::string& path, std::string& text, std::string* error) {
  char block[4096];
  for (;;) {
    ssize_t count = read(fd, block, sizeof block);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count < 0) {
      return Fail(error, path + ": " + std::strerror(errno));
    }
    if (count == 0) {
      return true;
    }
    if (text.size() + std::size_t(count) > kMaxDependencyFileSize) {
      return Fail(error,
                  path + ": larger than " + std::to_string(kMaxDependencyFileSize) + " bytes");
    }
    text.append(block, std::size_t(count));
  }
}

// Reads the file into text. A file that cannot be opened leaves text empty and succeeds.
bool LoadFile(const std::string& path, std::string& text, std::string* error) {
  // Non-blocking, so that a FIFO planted in place of a list cannot stall the reader.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    return true;
  }
  struct stat status;
  bool ok;
  if (fstat(fd, &status) != 0) {
    ok = Fail(error, path + ": " + std::strerror(errno));
  } else if (!S_ISREG(status.st_mode)) {
    ok = Fail(error, path + ": not a regular file");
  } else {
    ok = ReadBounded(fd, path, text, error);
  }
  close(fd);  // read-only descriptor: a failing close loses nothing
  return ok;
}

// Takes the next word of text, or returns false at the end.
bool NextWord(std::string_view& text, std::string_view& word) {
  word = TakeWord(text);
  return !word.empty();
}

// Parses a whole word as a number of type T; "+" and leading blanks are not accepted.
template <typename T>
bool NextNumber(std::string_view& text, T& out) {
  std::string_view word;
  if (!NextWord(text, word)) {
    return false;
  }
  const char* end = word.data() + word.size();
  auto [stop, status] = std::from_chars(word.data(), end, out);
  return status == std::errc() && stop == end;
}

}  // namespace

bool ReadDependencyFile(const std::string& path, std::vector<Dependency>& out,
                        PriorityColumn priority, std::string* error) {
  std::string content;
  if (!LoadFile(path, content, error)) {
    return false;
  }
  std::string_view text = content;
  for (std::size_t record = 1;; ++record) {
    Dependency d;
    std::string_view name;
    if (!NextWord(text, name)) {
      return true;
    }
    std::string where = path + ": record " + std::to_string(record) + ": ";
    if (name.size() > kMaxDependencyNameLength) {
      return Fail(error, where + "name too long");
    }
    d.name = std::string(name);
    if (!NextNumber(text, d.minVersion)) {
      return Fail(error, where + "bad minimum version");
    }
    if (!NextNumber(text, d.maxVersion)) {
      return Fail(error, where + "bad maximum version");
    }
    if (priority == PriorityColumn::kPresent && !NextNumber(text, d.priority)) {
      return Fail(error, where + "bad priority");
    }
    out.push_back(std::move(d));
  }
}
