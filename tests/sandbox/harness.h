#pragma once

#include <sys/wait.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/sandbox_layout.h"
#include "tests/support/sandbox_root.h"
#include "tests/support/terminal.h"

// How the installer finds its console.
enum class ConsoleKind {
  kVirtual,   // "/dev/tty0" exists; the standard streams are the terminal
  kSerial,    // no "/dev/tty0"; the terminal is reachable only as "/dev/ttyS0"
  kKeysFile,  // as kVirtual, but standard input is the file kKeysPath: its bytes, then the end
};

// Where a kKeysFile run reads its keys, inside the root.
inline constexpr const char* kKeysPath = "/.sandbox/keys";

// A root laid out like the installation system, with the recording disk tools in /sbin, one disk
// for them to list and the host's /dev/full, in which the installer's test build runs as a child
// process in its own mount namespace, with the mask 022 that the kernel gives the first process.
class InstallerSandbox : public SandboxRoot {
 public:
  InstallerSandbox();

  // The module directory of the running kernel, where the installer reads its modules.
  static std::string ModuleDirectory();
  // Starts the installer with the argument vector (argv[0] first) on a new terminal; inside the
  // named network namespace (see VethLink), or in a new one without interfaces when
  // `networkNamespace` is empty.
  std::unique_ptr<Terminal> Start(const std::vector<std::string>& arguments,
                                  ConsoleKind console = ConsoleKind::kVirtual,
                                  const std::string& networkNamespace = "") const;
};

// Whether a raw wait status is that of the stand-in's reboot.
inline bool EndedByReboot(int status) {
  return WIFSIGNALED(status) && WTERMSIG(status) == kRebootSignal;
}
