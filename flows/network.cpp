#include "flows/network.h"

#include <cstdio>

// This build does not carry the network installation yet: say so, and let the ending reboot.
bool InstallFromNetwork(TargetDisk&) {
  puts("\nFATAL ERROR: the network installation is not in this build yet");
  return false;
}
