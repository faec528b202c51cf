#pragma once

#include <cstdint>
#include <string>

#include "net/datagram.h"

// Hardware addresses as the programs show, read and keep them.

// The six bytes of an address packed into one number, for use as a table key.
uint64_t PackHardwareAddress(const uint8_t* address);

// The bytes of a packed address, written to address (6 bytes).
void UnpackHardwareAddress(uint64_t packed, uint8_t* address);

// Reads "HH:HH:HH:HH:HH:HH" (hexadecimal digits of either case, exactly six pairs) into address;
// false for anything else, address then undefined.
bool ParseHardwareAddress(const std::string& text, uint8_t* address);

// The address as "%02X:%02X:%02X:%02X:%02X:%02X".
std::string HardwareAddressText(const uint8_t* address);
