#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/datagram.h"

// The server's side of the network installation as a test scripts it, on eth0 of a namespace at
// port 5000 (and 5001, to speak from the wrong port). Root.

// A request as the peer received it.
struct PeerRequest {
  std::string payload;
  uint16_t sequence = 0;
};

class ScriptedPeer {
 public:
  // Opens the sockets inside the namespace `space`; Ready() tells whether that worked.
  explicit ScriptedPeer(const std::string& space);
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  bool Ready() const { return ready_; }
  const uint8_t* Address() const { return address_; }

  // Sends the replies to `client` at once, numbered from 1 as a server numbers its answers: they
  // wait in the client's socket, and each request of the client takes the next one.
  bool Queue(const std::vector<std::string>& replies, const uint8_t* client,
             bool wrongPort = false) const;
  // Every request received since the last call, in order.
  std::vector<PeerRequest> Requests() const;

 private:
  // Sends one datagram with the header's fields and the payload (its length filled in), from
  // port 5000 or, with `wrongPort`, from port 5001.
  bool Send(DatagramHeader header, std::string_view payload, bool wrongPort = false) const;
  // Receives the next datagram from someone else within `milliseconds`; its length or -1.
  int Receive(uint8_t* buffer, int milliseconds) const;

  int socket_ = -1;
  int wrongPortSocket_ = -1;
  uint8_t address_[kHardwareAddressSize] = {};
  bool ready_ = false;
};
