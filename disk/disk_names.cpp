#include "disk/disk_names.h"

#include <cctype>
#include <cstring>
#include <string_view>

namespace {

bool AllOf(std::string_view text, int (*kind)(int)) {
  if (text.empty()) {
    return false;
  }
  for (char c : text) {
    if (kind(static_cast<unsigned char>(c)) == 0) {
      return false;
    }
  }
  return true;
}

int IsLowerLetter(int c) {
  return c >= 'a' && c <= 'z';
}

bool EndsInDigit(std::string_view name) {
  return !name.empty() && isdigit(static_cast<unsigned char>(name.back()));
}

// "nvme" CONTROLLER "n" NAMESPACE, both numbers; "nvme0c0n1" is a path of a shared namespace,
// which the kernel also shows as the namespace itself.
bool IsNvmeNamespace(std::string_view name) {
  name.remove_prefix(4);
  size_t separator = name.find('n');
  return separator != std::string_view::npos && AllOf(name.substr(0, separator), isdigit) &&
         AllOf(name.substr(separator + 1), isdigit);
}

}  // namespace

bool IsWholeDiskDevice(const char* device) {
  if (strncmp(device, "/dev/", 5) != 0) {
    return false;
  }
  std::string_view name(device + 5);
  for (std::string_view prefix : {"xvd", "hd", "sd", "vd"}) {
    if (name.starts_with(prefix)) {
      return AllOf(name.substr(prefix.size()), IsLowerLetter);
    }
  }
  if (name.starts_with("nvme")) {
    return IsNvmeNamespace(name);
  }
  if (name.starts_with("mmcblk")) {
    return AllOf(name.substr(6), isdigit);  // not mmcblk0boot0 or mmcblk0rpmb
  }
  return false;
}

std::string PartitionDevice(const char* disk, int number) {
  return std::string(disk) + (EndsInDigit(disk) ? "p" : "") + std::to_string(number);
}

bool DeviceOnDisk(const char* device, const char* disk) {
  size_t length = strlen(disk);
  if (strncmp(device, disk, length) != 0) {
    return false;
  }
  std::string_view rest(device + length);
  if (rest.empty()) {
    return true;
  }
  if (EndsInDigit(disk)) {
    if (rest.front() != 'p') {
      return false;
    }
    rest.remove_prefix(1);
  }
  return AllOf(rest, isdigit);
}
