// Stands in for the external programs of the installation medium and of the new system
// ("/sbin/sfdisk", "/sbin/mke2fs", "/sbin/mkfs.vfat", "/bin/bash", "/bin/varo", "/sbin/fsck"):
// records how it was run and what it was fed, fails when the test says so, and imitates what the
// installer relies on. Built static, so that it runs inside any sandbox root.

#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <string>

#include "tests/support/sandbox_layout.h"

namespace fs = std::filesystem;

namespace {

// Formatting leaves an empty file system of the new type where the device's old one was, or a
// copy of format/DEVICE (its links as links) where a test wants later steps to find something in
// the way.
void Format(const std::string& device, const std::string& type) {
  std::string base = fs::path(device).filename();
  std::string media = std::string(kMediaDirectory) + "/" + base;
  for (const char* old : {".ext2", ".ext3", ".vfat"}) {
    fs::remove_all(media + old);
  }
  std::string formatted = media + "." + type;
  fs::create_directories(formatted);
  std::error_code missing;
  fs::copy(std::string(kFormatTemplateDirectory) + "/" + base, formatted,
           fs::copy_options::recursive | fs::copy_options::copy_symlinks, missing);
}

// The geometry query and the dump print their fixtures; a table written to the tool is recorded.
void Sfdisk(const std::string& call) {
  bool geometry = call.find(" -g") != std::string::npos;
  if (geometry && fs::exists(kHoldFile)) {
    sleep(10);  // an interrupt of the terminal's process group ends the tool first
  }
  if (geometry || call.find(" -d") != std::string::npos) {
    std::cout << std::ifstream(geometry ? kGeometryFile : kDumpFile).rdbuf();
    return;
  }
  std::string input;
  for (char c : std::string(std::istreambuf_iterator<char>(std::cin), {})) {
    input += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  RecordCall("input " + input);
}

}  // namespace

int main(int argc, char** argv) {
  std::string call = "exec";
  for (int i = 0; i < argc; ++i) {
    call += std::string(" ") + argv[i];
  }
  RecordCall(call);
  std::string name = fs::path(argv[0]).filename();
  std::cerr << name << " ran\n";  // shows where the tool's errors went: the log terminal
  if (CallRefused(call)) {
    return 1;
  }
  if (name == "sfdisk") {
    Sfdisk(call);
  } else if (name == "mke2fs" && argc > 1) {
    Format(argv[argc - 1], call.find(" -j ") != std::string::npos ? "ext3" : "ext2");
  } else if (name == "mkfs.vfat" && argc > 1) {
    Format(argv[argc - 1], "vfat");
  }
  return 0;
}
