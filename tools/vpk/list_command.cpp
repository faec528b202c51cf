#include "tools/vpk/list_command.h"

#include <cstdio>
#include <cstring>

#include "packages/database_load.h"
#include "packages/database_lookup.h"
#include "packages/placement_record.h"
#include "packages/roots.h"
#include "tools/vpk/command_line.h"

namespace {

void PrintListUsage(FILE* out) {
  std::fprintf(out,
               "usage: vpk list [--root DIR] [--system-root DIR]\n\n"
               "Prints the packages installed in the tree at --root (default /flash): name, \"X\"\n"
               "when disabled, version and build time (UTC). Stored images are also looked for\n"
               "in the running system's /rw/pckg/.images/, below --system-root (default /).\n");
}

}  // namespace

bool ListCommand(int argc, char** argv) {
  const char* root = nullptr;
  const char* systemRoot = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      PrintListUsage(stdout);
      return true;
    }
    if (std::strcmp(argv[i], "--root") == 0 && i + 1 < argc && root == nullptr) {
      root = argv[++i];
    } else if (std::strcmp(argv[i], "--system-root") == 0 && i + 1 < argc &&
               systemRoot == nullptr) {
      systemRoot = argv[++i];
    } else {
      PrintListUsage(stderr);
      return false;
    }
  }
  if (root != nullptr) {
    GetPackageRoots().target = root;
  }
  if (systemRoot != nullptr) {
    GetPackageRoots().system = systemRoot;
  }
  if (!TargetTreeExists("list")) {
    return false;
  }
  // A version whose files are a mix of two is not listed.
  std::string interrupted;
  Interrupted way = FindInterruptedInstallation(interrupted);
  if (way != Interrupted::kNone) {
    std::fprintf(stderr, "%s: an interrupted installation of %s will be %s by the next command\n",
                 GetPackageRoots().target.c_str(), interrupted.c_str(),
                 way == Interrupted::kCompleted ? "completed" : "undone");
    return false;
  }
  // Listing must not use up the one-shot requests that the next real load is meant to carry out.
  if (!LoadDatabase({.quiet = false, .consumeSchedules = false})) {
    return false;
  }
  PrintPackageTable();
  return true;
}
