#include "flows/device_search.h"

#include "console/progress.h"

const char* SearchDevices(std::span<const char* const> devices, bool (*tryDevice)(const char*)) {
  for (int pass = 1; pass <= kDeviceSearchPasses; ++pass) {
    for (const char* device : devices) {
      if (tryDevice(device)) {
        return device;
      }
    }
    // A drive that is still spinning up may answer in a later pass.
    SleepSeconds(1);
  }
  return nullptr;
}
