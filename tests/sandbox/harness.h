#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/sandbox_root.h"
#include "tests/support/terminal.h"

// How the installer finds its console.
enum class ConsoleKind {
  kVirtual,  // "/dev/tty0" exists; the standard streams are the terminal
  kSerial,   // no "/dev/tty0"; the terminal is reachable only as "/dev/ttyS0"
};

// A root laid out like the installation system, with the recording disk tools in /sbin, in which
// the installer's test build runs as a child process in its own mount namespace.
class InstallerSandbox : public SandboxRoot {
 public:
  InstallerSandbox();

  // The kernel release whose module directory the installer reads.
  static std::string Release();
  // Places an (empty unless given) module file under "/lib/modules/RELEASE/".
  void AddModule(const std::string& path, const std::string& content = "module") const;
  // What "sfdisk -g" prints.
  void SetGeometry(const std::string& output) const { Write("/.sandbox/sfdisk-g", output); }

  // Starts the installer with the argument vector (argv[0] first) on a new terminal.
  std::unique_ptr<Terminal> Start(const std::vector<std::string>& arguments,
                                  ConsoleKind console = ConsoleKind::kVirtual) const;
};

// The recorded calls of a run, one per line, for the test log.
std::string Listing(const std::vector<std::string>& calls);

// The position of the first call that begins with `prefix` at or after `from`, or -1.
int FindCall(const std::vector<std::string>& calls, const std::string& prefix, int from = 0);
