#include "net/hardware_address.h"

#include <cstdio>

#include "streams/hex_digit.h"

uint64_t PackHardwareAddress(const uint8_t* address) {
  uint64_t packed = 0;
  for (int i = 0; i < kHardwareAddressSize; ++i) {
    packed = (packed << 8) | address[i];
  }
  return packed;
}

void UnpackHardwareAddress(uint64_t packed, uint8_t* address) {
  for (int i = kHardwareAddressSize - 1; i >= 0; --i) {
    address[i] = uint8_t(packed);
    packed >>= 8;
  }
}

bool ParseHardwareAddress(const std::string& text, uint8_t* address) {
  if (text.size() != 17) {
    return false;
  }
  for (int i = 0; i < kHardwareAddressSize; ++i) {
    int high = HexDigitValue(text[i * 3]);
    int low = HexDigitValue(text[i * 3 + 1]);
    if (high < 0 || low < 0 || (i < 5 && text[i * 3 + 2] != ':')) {
      return false;
    }
    address[i] = uint8_t(high * 16 + low);
  }
  return true;
}

std::string HardwareAddressText(const uint8_t* address) {
  char text[18];
  snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", address[0], address[1], address[2],
           address[3], address[4], address[5]);
  return text;
}
