#include "disk/finish.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "console/progress.h"
#include "disk/disk_names.h"
#include "disk/prepare.h"
#include "disk/tools.h"
#include "packages/roots.h"
#include "platform/platform.h"

void FinishInstalledSystem(const TargetDisk& target) {
  std::string root = TargetPath("");
  struct stat status;
  // The exit statuses belong to the new system's packages; the installation goes on regardless.
  if (stat(TargetPath("/etc/rc.d/rc.postinstall").c_str(), &status) == 0) {
    RunProgram(root.c_str(), "/bin/bash", {"-c", "/etc/rc.d/rc.postinstall"});
  } else {
    RunProgram(root.c_str(), "/bin/varo", {"varo"});
  }
  // Written here, while the new system is still mounted and writable; a failure is ignored.
  WriteMarker("/SHOW_LICENSE");
  SyncFileSystems();
  if (StartedThroughUefi()) {
    UnmountFileSystem(TargetPath("/boot/efi").c_str());
  }
  // Fails harmlessly in the single-partition layout.
  UnmountFileSystem(TargetPath("/boot").c_str());
  if (!target.moreThan1023Cylinders) {
    std::string device = PartitionDevice(target.device, 1);
    const char* type = target.largerThan40MiB ? "ext3" : "ext2";
    if (MountFileSystem(device.c_str(), root.c_str(), type, MS_REMOUNT | MS_RDONLY, nullptr) == 0) {
      StartProgress("Checking disk integrity...");
      RunProgram(root.c_str(), "/sbin/fsck", {"-d", "-v"});
      StopProgress();
    }
  }
  UnmountFileSystem(root.c_str());
}
