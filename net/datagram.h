#pragma once

#include <cstdint>
#include <cstring>

#include "streams/byte_order.h"

// The datagram of the network installation, shared by the installer (the client) and
// install-server (its peer). Every datagram travels between UDP port 5000 and port 5000, as a
// broadcast on one segment; the parties are told apart by the hardware addresses in the header.

constexpr int kProtocolPort = 5000;
constexpr int kDatagramSize = 4096;
constexpr int kDatagramHeaderSize = 20;
constexpr int kMaxPayload = kDatagramSize - kDatagramHeaderSize;
constexpr int kHardwareAddressSize = 6;

// Byte offsets of the header's fields; the 16-bit ones are little-endian.
constexpr int kSourceOffset = 0;
constexpr int kDestinationOffset = 6;
constexpr int kReservedOffset = 12;
constexpr int kPayloadLengthOffset = 14;
constexpr int kSequenceOffset = 16;
constexpr int kAcknowledgementOffset = 18;

// The header's fields as numbers and addresses.
struct DatagramHeader {
  uint8_t source[kHardwareAddressSize] = {};
  uint8_t destination[kHardwareAddressSize] = {};
  uint16_t payloadLength = 0;
  uint16_t sequence = 0;
  uint16_t acknowledgement = 0;
};

// Reads the header at the start of a datagram of at least kDatagramHeaderSize bytes.
inline DatagramHeader LoadDatagramHeader(const uint8_t* datagram) {
  DatagramHeader header;
  memcpy(header.source, datagram + kSourceOffset, kHardwareAddressSize);
  memcpy(header.destination, datagram + kDestinationOffset, kHardwareAddressSize);
  header.payloadLength = uint16_t(LoadLittleEndian(datagram + kPayloadLengthOffset, 2));
  header.sequence = uint16_t(LoadLittleEndian(datagram + kSequenceOffset, 2));
  header.acknowledgement = uint16_t(LoadLittleEndian(datagram + kAcknowledgementOffset, 2));
  return header;
}

// Writes the header at the start of a datagram; the reserved field becomes 0.
inline void StoreDatagramHeader(uint8_t* datagram, const DatagramHeader& header) {
  memcpy(datagram + kSourceOffset, header.source, kHardwareAddressSize);
  memcpy(datagram + kDestinationOffset, header.destination, kHardwareAddressSize);
  StoreLittleEndian(datagram + kReservedOffset, 0, 2);
  StoreLittleEndian(datagram + kPayloadLengthOffset, header.payloadLength, 2);
  StoreLittleEndian(datagram + kSequenceOffset, header.sequence, 2);
  StoreLittleEndian(datagram + kAcknowledgementOffset, header.acknowledgement, 2);
}

// True when all six bytes of a hardware address are zero (no one, or everyone).
inline bool IsZeroAddress(const uint8_t* address) {
  for (int i = 0; i < kHardwareAddressSize; ++i) {
    if (address[i] != 0) {
      return false;
    }
  }
  return true;
}
