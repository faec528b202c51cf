#include "tests/support/sandbox_root.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/sandbox_layout.h"

namespace fs = std::filesystem;

SandboxRoot::SandboxRoot(std::initializer_list<const char*> tools) {
  char pattern[] = "/tmp/vela-sandbox-XXXXXX";
  path_ = mkdtemp(pattern);
  for (const char* directory :
       {"/dev", "/proc", "/sys", "/flash", "/floppy", "/sbin", "/bin", "/.sandbox/media"}) {
    MakeDirectory(directory);
  }
  Write("/dev/null", "");
  Write("/dev/tty9", "");
  Write("/.sandbox/calls", "");
  for (const char* tool : tools) {
    InstallTool(tool);
  }
}

SandboxRoot::~SandboxRoot() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

void SandboxRoot::Write(const std::string& inside, const std::string& content) const {
  fs::create_directories(fs::path(HostPath(inside)).parent_path());
  std::ofstream(HostPath(inside), std::ios::binary | std::ios::trunc) << content;
}

void SandboxRoot::MakeDirectory(const std::string& inside) const {
  fs::create_directories(HostPath(inside));
}

std::string SandboxRoot::Read(const std::string& inside) const {
  std::ifstream file(HostPath(inside), std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  return content.str();
}

bool SandboxRoot::Exists(const std::string& inside) const {
  struct stat status;
  return lstat(HostPath(inside).c_str(), &status) == 0;
}

void SandboxRoot::InstallTool(const std::string& inside) const {
  fs::create_directories(fs::path(HostPath(inside)).parent_path());
  fs::copy_file(VELA_BINARY_DIR "/bin/recording_tool", HostPath(inside),
                fs::copy_options::overwrite_existing);
}

std::vector<std::string> SandboxRoot::Calls(const std::string& prefix) const {
  std::vector<std::string> calls;
  std::istringstream lines(Read("/.sandbox/calls"));
  for (std::string line; std::getline(lines, line);) {
    if (line.compare(0, prefix.size(), prefix) == 0) {
      calls.push_back(line);
    }
  }
  return calls;
}

bool SandboxAvailable() {
  if (geteuid() != 0) {
    return false;
  }
  pid_t child = fork();
  if (child == 0) {
    _exit(unshare(CLONE_NEWNS) == 0 ? 0 : 1);
  }
  int status;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

namespace {

// Binds a host path read-only into the root; the bind exists only in this mount namespace.
bool BindReadOnly(const std::string& host, const std::string& target) {
  std::error_code ignored;
  if (fs::is_directory(host)) {
    fs::create_directories(target, ignored);
  } else {
    fs::create_directories(fs::path(target).parent_path(), ignored);
    std::ofstream(target, std::ios::app).close();
  }
  return mount(host.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
         mount(nullptr, target.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

}  // namespace

bool EnterSandbox(const SandboxRoot& root, const std::function<bool()>& prepare) {
  int calls = open(root.HostPath("/.sandbox/calls").c_str(), O_WRONLY | O_APPEND);
  if (calls < 0 || dup2(calls, kRecordDescriptor) < 0) {
    return false;
  }
  // Every mount below happens in a namespace of our own, never in the host's.
  if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr)) {
    return false;
  }
  if (mount("/dev/null", root.HostPath("/dev/null").c_str(), nullptr, MS_BIND, nullptr) != 0 ||
      mount("proc", root.HostPath("/proc").c_str(), "proc", 0, nullptr) != 0) {
    return false;
  }
  for (const char* libraries : {"/lib/x86_64-linux-gnu", "/usr/lib/x86_64-linux-gnu", "/lib64"}) {
    std::error_code error;
    fs::path real = fs::canonical(libraries, error);
    if (!error && !BindReadOnly(real, root.HostPath(libraries))) {
      return false;
    }
  }
  if (prepare && !prepare()) {
    return false;
  }
  return chroot(root.Path().c_str()) == 0 && chdir("/") == 0;
}

SandboxOutcome RunInSandbox(const SandboxRoot& root, const std::function<int()>& body) {
  fflush(stdout);
  fflush(stderr);
  pid_t child = fork();
  if (child == 0) {
    int output =
        open(root.HostPath("/.sandbox/output").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (output < 0 || dup2(output, 1) < 0 || dup2(output, 2) < 0 || !EnterSandbox(root)) {
      _exit(120);
    }
    int code = body();
    fflush(stdout);
    fflush(stderr);
    _exit(code);
  }
  SandboxOutcome outcome;
  int status;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    outcome.exitCode = WEXITSTATUS(status);
  }
  outcome.output = root.Read("/.sandbox/output");
  return outcome;
}
