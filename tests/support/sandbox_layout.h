#pragma once

#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <fstream>
#include <string>

// What a sandbox root holds besides the simulated machine, and how calls are recorded and failed
// there; shared by the platform stand-in, the recording tools and the tests that build such roots.

// Present only in a sandbox root; outside one the stand-in records calls but changes nothing.
inline constexpr const char* kSandboxDirectory = "/.sandbox";
// Fixture file systems, one directory per device and type: "sda1.ext3" is what a mount of
// /dev/sda1 as ext3 shows. A mount with no such directory fails.
inline constexpr const char* kMediaDirectory = "/.sandbox/media";
// What the recording mke2fs leaves in a new file system of a device: format/DEVICE/...
inline constexpr const char* kFormatTemplateDirectory = "/.sandbox/format";
// Lines of record prefixes: a call whose record begins with one of them fails.
inline constexpr const char* kFailFile = "/.sandbox/fail";
// What the recording sfdisk prints for "-g" and for "-d".
inline constexpr const char* kGeometryFile = "/.sandbox/sfdisk-g";
inline constexpr const char* kDumpFile = "/.sandbox/sfdisk-d";
// While this exists, the recording sfdisk's geometry query waits up to ten seconds before it
// answers, so that a test can interrupt the installer while it waits for a tool.
inline constexpr const char* kHoldFile = "/.sandbox/sfdisk-hold";
// Lines of record prefixes: once the stand-in has made a call whose record begins with one of
// them, the process is left a single spare descriptor. It can still open files one at a time, but
// no pipe, so no piped child can be started.
inline constexpr const char* kSpareDescriptorFile = "/.sandbox/one-descriptor-after";
// The mount table that the test build's MountTablePath names, in the kernel's format; absent
// means that nothing is mounted.
inline constexpr const char* kMountTableFile = "/.sandbox/mounts";
// Every sleep the test build skipped, in microseconds, one line each.
inline constexpr const char* kSleepFile = "/.sandbox/sleeps";

// The descriptor, inherited across fork, exec and chroot, on which every recorded call is
// appended as one line.
inline constexpr int kRecordDescriptor = 200;

// The stand-in's reboot ends the process with this signal, so that a parent's wait tells it apart
// from an ordinary exit.
inline constexpr int kRebootSignal = SIGUSR2;

// Appends the call to the record in one write, which keeps the lines of parents and children
// whole. Where nobody opened the record descriptor nothing is recorded.
inline void RecordCall(const std::string& call) {
  std::string line = call + "\n";
  if (write(kRecordDescriptor, line.data(), line.size()) < 0) {
    return;
  }
}

// Whether the call's record begins with a line of the file `prefixes`.
inline bool CallListed(const char* prefixes, const std::string& call) {
  std::ifstream lines(prefixes);
  for (std::string prefix; std::getline(lines, prefix);) {
    if (!prefix.empty() && call.compare(0, prefix.size(), prefix) == 0) {
      return true;
    }
  }
  return false;
}

// Whether the test asked for this call to fail: its record begins with a line of kFailFile.
inline bool CallRefused(const std::string& call) {
  return CallListed(kFailFile, call);
}

// The test build's clock: the microseconds of sleep it skipped so far (real time left out, so that
// a search's length does not depend on the machine's load).
uint64_t SkippedMicroseconds();
