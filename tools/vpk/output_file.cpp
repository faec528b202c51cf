#include "tools/vpk/output_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "streams/exact_io.h"

bool BeginOutput(const std::string& path, PendingOutput* output) {
  output->path = path;
  // The temporary name starts with a dot so that directory scans for package files pass it over.
  std::size_t slash = path.rfind('/');
  std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string pattern = directory + "." + base + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) {
    std::fprintf(stderr, "vpk: cannot create %s: %s\n", pattern.c_str(), std::strerror(errno));
    return false;
  }
  close(fd);
  output->temporary = name.data();
  return true;
}

bool CommitOutput(const PendingOutput& output) {
  mode_t mask = umask(0);
  umask(mask);
  if (chmod(output.temporary.c_str(), 0666 & ~mask) != 0 ||
      rename(output.temporary.c_str(), output.path.c_str()) != 0) {
    std::fprintf(stderr, "vpk: cannot create %s: %s\n", output.path.c_str(), std::strerror(errno));
    AbandonOutput(output);
    return false;
  }
  return true;
}

void AbandonOutput(const PendingOutput& output) {
  // Nothing more can be done when the removal fails; the name starts with a dot at least.
  if (unlink(output.temporary.c_str()) != 0 && errno != ENOENT) {
    std::fprintf(stderr, "vpk: cannot remove %s: %s\n", output.temporary.c_str(),
                 std::strerror(errno));
  }
}

bool CopyWholeFile(const std::string& from, const std::string& to) {
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (in < 0) {
    std::fprintf(stderr, "vpk: cannot open %s: %s\n", from.c_str(), std::strerror(errno));
    return false;
  }
  int out = open(to.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  bool ok = out >= 0 && CopyAll(in, out);
  if (out >= 0 && close(out) != 0) {
    ok = false;
  }
  if (!ok) {
    std::fprintf(stderr, "vpk: cannot copy %s to %s: %s\n", from.c_str(), to.c_str(),
                 std::strerror(errno));
  }
  close(in);
  return ok;
}
