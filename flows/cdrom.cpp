#include "flows/cdrom.h"

#include <cstdio>

// This build does not carry the CD-ROM installation yet: say so, and let the ending reboot.
bool InstallFromCdrom(TargetDisk&) {
  puts("\nFATAL ERROR: the CD-ROM installation is not in this build yet");
  return false;
}
