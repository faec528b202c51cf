#pragma once

#include <string>

// Temporary directories and whole files for tests, without the package headers (whose names
// would meet those of the network datagram in one test).

// A fresh directory under /tmp, removed with everything in it by the destructor.
class TemporaryDirectory {
 public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  const std::string& Path() const { return path; }
  // Path() + "/" + name.
  std::string operator/(const std::string& name) const { return path + "/" + name; }

 private:
  std::string path;
};

// The whole content of a file; "<unreadable>" when it cannot be read.
std::string ReadWholeTestFile(const std::string& path);
// Writes content to path; false (with a test failure) when that fails.
bool WriteTestFile(const std::string& path, const std::string& content);
