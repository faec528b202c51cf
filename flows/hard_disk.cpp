#include "flows/hard_disk.h"

#include <cstdio>

// This build does not carry the hard-disk installation yet: say so, and let the ending reboot.
bool InstallFromHardDisk(TargetDisk&) {
  puts("\nFATAL ERROR: the hard-disk installation is not in this build yet");
  return false;
}
