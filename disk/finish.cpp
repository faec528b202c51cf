#include "disk/finish.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "disk/disk_names.h"
#include "disk/prepare.h"
#include "disk/tools.h"
#include "platform/platform.h"

void FinishInstalledSystem(const TargetDisk& target) {
  struct stat status;
  // The exit statuses belong to the new system's packages; the installation goes on regardless.
  if (stat("/flash/etc/rc.d/rc.postinstall", &status) == 0) {
    RunProgram("/flash", "/bin/bash", {"-c", "/etc/rc.d/rc.postinstall"});
  } else {
    RunProgram("/flash", "/bin/varo", {"varo"});
  }
  // Written here, while the new system is still mounted and writable; a failure is ignored.
  int marker = open("/flash/SHOW_LICENSE", O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (marker >= 0) {
    close(marker);
  }
  SyncFileSystems();
  if (StartedThroughUefi()) {
    UnmountFileSystem("/flash/boot/efi");
  }
  UnmountFileSystem("/flash/boot");  // fails harmlessly in the single-partition layout
  if (!target.moreThan1023Cylinders) {
    std::string root = PartitionDevice(target.device, 1);
    const char* type = target.largerThan40MiB ? "ext3" : "ext2";
    if (MountFileSystem(root.c_str(), "/flash", type, MS_REMOUNT | MS_RDONLY, nullptr) == 0) {
      StartProgress("Checking disk integrity...");
      RunProgram("/flash", "/sbin/fsck", {"-d", "-v"});
      StopProgress();
    }
  }
  UnmountFileSystem("/flash");
}
