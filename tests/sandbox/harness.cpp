#include "tests/sandbox/harness.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "tests/support/sandbox_layout.h"

InstallerSandbox::InstallerSandbox() : SandboxRoot({"/sbin/sfdisk", "/sbin/mke2fs"}) {
  Write("/dev/tty0", "");
  Write("/dev/full", "");
  Write(kGeometryFile, "/dev/sda: 2088 cylinders, 255 heads, 63 sectors/track\n");
}

std::string InstallerSandbox::ModuleDirectory() {
  utsname system{};
  uname(&system);
  return std::string("/lib/modules/") + system.release + "/";
}

namespace {

// Ends this process the way the first process ended: by the same signal, or with its code.
[[noreturn]] void EndLike(int status) {
  int signal = 0;
  if (WIFSIGNALED(status)) {
    signal = WTERMSIG(status);
  } else if (WIFEXITED(status) && WEXITSTATUS(status) == 128 + kRebootSignal) {
    signal = kRebootSignal;  // the stand-in's reboot, as the first process
  }
  if (signal != 0) {
    ::signal(signal, SIG_DFL);
    raise(signal);
  }
  _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 125);
}

// Runs `body` as the first process of a new PID namespace, as a boot medium starts the installer,
// and ends as it ended. This process stays outside, out of the way of the terminal's signals.
int RunAsFirstProcess(const std::function<int()>& body) {
  if (unshare(CLONE_NEWPID) != 0) {
    return 121;
  }
  pid_t first = fork();
  if (first == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    _exit(body());
  }
  signal(SIGINT, SIG_IGN);
  signal(SIGQUIT, SIG_IGN);
  int status = 0;
  while (first > 0 && waitpid(first, &status, 0) < 0 && errno == EINTR) {
  }
  if (first < 0) {
    return 121;
  }
  EndLike(status);
}

// The installer's interfaces are those of a namespace the test made, or none at all: the host's
// stay out of reach (the network flow would raise them and broadcast on them).
bool EnterNetworkNamespace(const std::string& name) {
  if (name.empty()) {
    return unshare(CLONE_NEWNET) == 0;
  }
  int space = open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
  bool entered = space >= 0 && setns(space, CLONE_NEWNET) == 0;
  if (space >= 0) {
    close(space);
  }
  return entered;
}

// In the child, on the terminal: enter the root and become the installer.
int BecomeInstaller(const InstallerSandbox& root, const std::vector<std::string>& arguments,
                    ConsoleKind console, const std::string& networkNamespace) {
  int program = open(INSTALLER_TEST_PATH, O_RDONLY | O_CLOEXEC);
  bool serial = console == ConsoleKind::kSerial;
  // The terminal appears only as the serial port; the inherited streams lead nowhere.
  auto bindSerialPort = [&] {
    const char* terminal = ttyname(0);
    return terminal != nullptr && unlink(root.HostPath("/dev/tty0").c_str()) == 0 &&
           mount(terminal, root.HostPath("/dev/ttyS0").c_str(), nullptr, MS_BIND, nullptr) == 0;
  };
  // A device whose every write fails for want of space, for the tests to point paths at.
  auto bindDevices = [&] {
    return mount("/dev/full", root.HostPath("/dev/full").c_str(), nullptr, MS_BIND, nullptr) == 0 &&
           (!serial || bindSerialPort());
  };
  if (program < 0 || !EnterNetworkNamespace(networkNamespace) || !EnterSandbox(root, bindDevices)) {
    return 122;
  }
  // The mask the kernel gives the first process, whatever the test was started with.
  umask(022);
  if (console == ConsoleKind::kKeysFile) {
    int keys = open(kKeysPath, O_RDONLY);
    if (keys < 0 || dup2(keys, 0) < 0) {
      return 123;
    }
  }
  if (serial) {
    int nowhere = open("/dev/null", O_RDWR);
    if (nowhere < 0) {
      return 123;
    }
    dup2(nowhere, 0);
    dup2(nowhere, 1);
    dup2(nowhere, 2);
  }
  std::vector<char*> vector;
  for (const std::string& argument : arguments) {
    vector.push_back(const_cast<char*>(argument.c_str()));
  }
  vector.push_back(nullptr);
  return RunAsFirstProcess([&] {
    fexecve(program, vector.data(), environ);
    return 124;
  });
}

void Describe(TestPackage& p, const std::string& name) {
  p.File("/etc/" + name, name + "\n");
  if (name == "system") {
    p.Flags(kFlagBootImage).Image("kernel");
  } else if (name == "ppp") {
    p.Depends("system").Image("ppp image");
  } else if (name == "advanced-tools") {
    p.Depends("ppp");
  }
}

}  // namespace

bool WriteFixturePackages(const SandboxRoot& root, const std::string& directory) {
  root.MakeDirectory(directory);
  bool written = true;
  for (const char* name : kFixturePackages) {
    TestPackage p(name, "1.0");
    Describe(p, name);
    written =
        p.Write(root.HostPath(directory + "/" + name + ".vpk"), TestPackage::kSigned) && written;
  }
  return written;
}

bool Eventually(const std::function<bool()>& holds, int timeoutMilliseconds) {
  for (int waited = 0; waited < timeoutMilliseconds; waited += 10) {
    if (holds()) {
      return true;
    }
    usleep(10 * 1000);
  }
  return holds();
}

std::unique_ptr<Terminal> InstallerSandbox::Start(const std::vector<std::string>& arguments,
                                                  ConsoleKind console,
                                                  const std::string& networkNamespace) const {
  if (console == ConsoleKind::kSerial) {
    Write("/dev/ttyS0", "");
  }
  return std::make_unique<Terminal>([this, arguments, console, networkNamespace] {
    return BecomeInstaller(*this, arguments, console, networkNamespace);
  });
}
