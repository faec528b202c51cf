#pragma once

#include <sys/wait.h>

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/package_builder.h"
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
// The fixture CD, and the root file system that the old and the new system share on the disk.
inline const std::string kCd = std::string(kMediaDirectory) + "/sr1.iso9660";
inline const std::string kNewRoot = std::string(kMediaDirectory) + "/sda2.ext3";
// The old partition table, for the flows that reuse the disk's partitions.
inline constexpr const char* kOldTable =
    "/dev/sda1 : start= 0\n/dev/sda2 : start= 0\n/dev/sda3 : start= 0\n";

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

// The packages of the fixture media: system (boot image), ppp (image, needs system), dhcp,
// advanced-tools (needs ppp) and wireless, signed with the test key. Each installs "/etc/NAME"
// holding "NAME\n".
inline constexpr const char* kFixturePackages[] = {"system", "ppp", "dhcp", "advanced-tools",
                                                   "wireless"};

// Writes the fixture packages as NAME.vpk into `directory` of the root; false (with a test
// failure) when that fails.
bool WriteFixturePackages(const SandboxRoot& root, const std::string& directory);

// Whether `holds` comes true within the timeout, asked every 10 ms.
bool Eventually(const std::function<bool()>& holds, int timeoutMilliseconds = 10000);

// Answers the closing question with ENTER; the raw wait status of the run, once it rebooted.
inline int FinishRun(Terminal& terminal) {
  EXPECT_TRUE(terminal.Expect("Press ENTER to reboot")) << terminal.Screen();
  terminal.Type("\r");
  EXPECT_TRUE(terminal.Expect("Rebooting...")) << terminal.Screen();
  return terminal.Wait();
}

// Types each answer once its question shows: what is typed ahead of a question is flushed.
inline void Answer(Terminal& terminal,
                   std::initializer_list<std::pair<const char*, const char*>> answers) {
  for (auto [question, key] : answers) {
    ASSERT_TRUE(terminal.Expect(question)) << terminal.Screen();
    terminal.Type(key);
  }
}

// A fresh root for each test (and for each row that calls SetUp again), laid out by Lay; the
// test is skipped where sandboxes cannot be built.
class SandboxTest : public testing::Test {
 protected:
  void SetUp() final {
    if (!SandboxAvailable()) {
      GTEST_SKIP() << kNeedsRoot;
    }
    root_ = std::make_unique<InstallerSandbox>();
    Lay();
  }
  virtual void Lay() {}

  std::unique_ptr<InstallerSandbox> root_;
};
