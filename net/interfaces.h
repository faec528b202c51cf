#pragma once

#include <netinet/in.h>
#include <poll.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "net/datagram.h"

// The installer's network interfaces and the sending and receiving of single datagrams on them.
// Every socket is non-blocking; waiting is left to the callers.

// One usable network interface, with its own socket bound to the device and port 5000, which it
// closes when it goes.
struct NetInterface {
  uint8_t hardwareAddress[kHardwareAddressSize] = {};
  int socket = -1;
  sockaddr_in destination{};  // 255.255.255.255, port 5000
  sockaddr_in lastSender{};   // who sent the last datagram received here

  NetInterface() = default;
  NetInterface(NetInterface&& other) noexcept;
  NetInterface& operator=(NetInterface&& other) noexcept;
  ~NetInterface();
};

// Empties `interfaces` (closing their sockets, so that the new ones can take port 5000), then
// fills it with every usable interface of "/proc/net/dev" (the loopback and any interface without
// a hardware address left out): raised with up, running and promiscuous, its socket allowed to
// broadcast and bound to the device and to port 5000. An interface that fails a step is dropped;
// a hardware address that cannot be read ends the scan with no interfaces.
void ScanInterfaces(std::vector<NetInterface>& interfaces);

// Sends the header and payload of `datagram` to the interface's broadcast destination. Returns
// whether every byte was sent.
bool SendDatagram(const NetInterface& interface, const uint8_t* datagram);

// Receives one waiting datagram into `buffer` (kDatagramSize bytes) without blocking, passing
// over those that did not come from port 5000, and notes its sender. Returns its length, or -1
// when none is waiting.
int ReceiveDatagram(NetInterface& interface, uint8_t* buffer);

// Waits until one of the descriptors is readable (its revents set) or `microsecondsLeft` has run
// out, taking the time spent off it; an interrupted wait carries out a pending interrupt and goes
// on. Returns true when a descriptor is readable, false when the time is up or the wait failed.
bool WaitReadable(pollfd* descriptors, size_t count, uint64_t& microsecondsLeft);
