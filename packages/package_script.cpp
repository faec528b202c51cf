#include "packages/package_script.h"

#include <sys/stat.h>

#include <algorithm>

#include "packages/database_files.h"
#include "packages/package_database.h"
#include "packages/package_reports.h"
#include "packages/reporter.h"
#include "packages/roots.h"
#include "platform/child_process.h"

namespace {

constexpr char kPreamble[] = "#!/bin/bash\n\n. /vela/lib/install/profile.sh\n\n";

// Appends length bytes of the current part to content in blocks, so that memory follows the bytes
// that actually arrive rather than the length a damaged part claims. False when the part ends
// early.
bool ReadPart(PartReader& reader, std::uint32_t length, std::string& content) {
  char block[16384];
  for (std::size_t left = length; left > 0;) {
    std::size_t want = std::min(sizeof block, left);
    reader.read(block, std::streamsize(want));
    if (std::size_t(reader.gcount()) != want) {
      return false;
    }
    content.append(block, want);
    left -= want;
  }
  return true;
}

// The text in single quotes, for the shell to take as one word whatever it holds.
std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

}  // namespace

bool ReadPackageScript(const Package& p, PartReader& reader, std::uint32_t length,
                       std::string& text) {
  text = kPreamble;
  if (!ReadPart(reader, length, text)) {
    ReportBrokenPackage(p);
    return false;
  }
  return true;
}

bool WritePackageScript(const Package& p, const std::string& path, const std::string& text) {
  if (!WriteDatabaseFile(path, text) || chmod(path.c_str(), 0755) != 0) {
    ReportWriteFailure(p, path.substr(path.find_last_of('/') + 1));
    return false;
  }
  return true;
}

bool RunPackageScript(const Package& p, const std::string& name) {
  // Nothing is ever stored under a name that leads out of the database.
  if (!IsSafeDirectoryName(p.name)) {
    return true;
  }
  std::string inside = "/var/pdb/" + p.name + "/" + name;
  struct stat status;
  if (stat(TargetPath(inside).c_str(), &status) != 0) {
    return true;
  }
  std::string command = ShellQuote(inside) + " >/dev/null 2>&1";
  std::string root = TargetPath("/");
  // Inside the tree with its top as working directory; a tree that cannot be entered runs nothing.
  ChildPlan plan;
  plan.closeInherited = false;
  plan.root = root.c_str();
  plan.workInRoot = true;
  const char* arguments[] = {"/bin/bash", "-c", command.c_str(), nullptr};
  pid_t pid = StartChild(plan, arguments);
  if (pid > 0 && WaitForChild(pid) == 0) {
    return true;
  }
  ReportWarning(GetPackageDatabase(), "package %s %s script failed", DisplayName(p).c_str(),
                name.c_str());
  return false;
}
