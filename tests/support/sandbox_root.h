#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

// A throwaway root directory laid out like the installation system, for code that works on
// absolute paths: the platform stand-in and the recording tools act inside it.
class SandboxRoot {
 public:
  // A fresh temporary root with /dev, /proc, /sys, /flash, /floppy, /.sandbox, and the recording
  // tool at each of the paths in `tools`, e.g. "/sbin/sfdisk".
  explicit SandboxRoot(std::initializer_list<const char*> tools = {});
  ~SandboxRoot();
  SandboxRoot(const SandboxRoot&) = delete;
  SandboxRoot& operator=(const SandboxRoot&) = delete;

  const std::string& Path() const { return path_; }
  std::string HostPath(const std::string& inside) const { return path_ + inside; }

  void Write(const std::string& inside, const std::string& content) const;
  void MakeDirectory(const std::string& inside) const;
  std::string Read(const std::string& inside) const;
  bool Exists(const std::string& inside) const;
  // Copies the recording tool to `inside`, e.g. "/sbin/sfdisk".
  void InstallTool(const std::string& inside) const;
  // The recorded calls that begin with `prefix`, in order.
  std::vector<std::string> Calls(const std::string& prefix = "") const;

 private:
  std::string path_;
};

// Whether this process may build sandboxes (root, and mount namespaces available).
bool SandboxAvailable();

// The message with which tests skip where SandboxAvailable is false.
inline constexpr const char* kNeedsRoot =
    "needs root and mount namespaces (unshare, chroot); CI runs as root";

// In a child process that has its own mount namespace: opens the root's record of calls on
// kRecordDescriptor, makes the root usable (the host's null device, a process file system, the
// shared libraries), runs `prepare` (when given) with the host's paths still in reach, and changes
// into it. Returns false when any step fails; nothing of
// the host is changed in any case.
bool EnterSandbox(const SandboxRoot& root, const std::function<bool()>& prepare = nullptr);

// What a body run in a sandbox left: its exit code (-1 when it did not exit) and its output.
struct SandboxOutcome {
  int exitCode = -1;
  std::string output;
};

// Runs `body` in a forked child inside the sandbox root, with its standard output and error
// collected and calls recorded; the child exits with what `body` returns.
SandboxOutcome RunInSandbox(const SandboxRoot& root, const std::function<int()>& body);
