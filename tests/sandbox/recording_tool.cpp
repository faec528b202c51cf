// Stands in for the external programs of the installation medium and of the new system
// ("/sbin/sfdisk", "/sbin/mke2fs", "/bin/bash", "/bin/varo", "/sbin/fsck"): records how it was run
// and what it was fed on the record descriptor, and imitates what the installer relies on. Built
// static, so that it runs inside any sandbox root.

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "tests/support/sandbox_layout.h"

namespace {

void Record(const std::string& line) {
  std::string withEnd = line + "\n";
  if (write(kRecordDescriptor, withEnd.data(), withEnd.size()) < 0) {
    return;  // nobody records
  }
}

bool Refused(const std::string& call) {
  std::ifstream fail(kFailFile);
  std::string prefix;
  while (std::getline(fail, prefix)) {
    if (!prefix.empty() && call.compare(0, prefix.size(), prefix) == 0) {
      return true;
    }
  }
  return false;
}

std::string Escaped(const std::string& text) {
  std::string result;
  for (char c : text) {
    result += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  return result;
}

void PrintFile(const char* path) {
  std::ifstream file(path);
  std::cout << file.rdbuf();
}

bool HasArgument(int argc, char** argv, const char* wanted) {
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], wanted) == 0) {
      return true;
    }
  }
  return false;
}

// Formatting leaves an empty file system of the new type where the device's old one was.
void Format(const std::string& device, bool journal) {
  std::string base = device.substr(device.rfind('/') + 1);
  std::string media = kMediaDirectory;
  std::filesystem::remove_all(media + "/" + base + ".ext2");
  std::filesystem::remove_all(media + "/" + base + ".ext3");
  std::string formatted = media + "/" + base + (journal ? ".ext3" : ".ext2");
  std::filesystem::create_directories(formatted);
  // A test may ask for a new file system that is not empty, to make later steps fail.
  std::string contents = std::string(kFormatTemplateDirectory) + "/" + base;
  std::error_code missing;
  std::filesystem::copy(contents, formatted, std::filesystem::copy_options::recursive, missing);
}

int Sfdisk(int argc, char** argv) {
  if (HasArgument(argc, argv, "-g")) {
    PrintFile(kGeometryFile);
  } else if (HasArgument(argc, argv, "-d")) {
    PrintFile(kDumpFile);
  } else {
    std::stringstream input;
    input << std::cin.rdbuf();
    Record("input " + Escaped(input.str()));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string call = "exec";
  for (int i = 0; i < argc; ++i) {
    call += std::string(" ") + argv[i];
  }
  Record(call);
  std::string name = std::filesystem::path(argv[0]).filename();
  // The log terminal shows that the tool ran and where its errors went.
  std::cerr << name << " ran\n";
  if (Refused(call)) {
    return 1;
  }
  if (name == "sfdisk") {
    return Sfdisk(argc, argv);
  }
  if (name == "mke2fs" && argc > 1) {
    Format(argv[argc - 1], HasArgument(argc, argv, "-j"));
  }
  return 0;
}
