#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "net/datagram.h"

// The server's side of the network installation as a test scripts it: sockets inside one
// namespace of a VethLink, bound to its eth0 and to port 5000 (and 5001, to speak from the wrong
// port). Needs root.

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

  // Sends one datagram with the header's fields and the payload (its length filled in), from
  // port 5000 or, with `wrongPort`, from port 5001.
  bool Send(DatagramHeader header, std::string_view payload, bool wrongPort = false) const;
  // Receives the next datagram from someone else within `milliseconds`; its length or -1.
  int Receive(uint8_t* buffer, int milliseconds) const;

  // Answers the client on a thread of its own as a server does: each new request gets the next
  // reply payload (with the next sequence number), a repeated one the same answer again; once the
  // replies are used up, requests go unanswered.
  void Serve(std::vector<std::string> replies);
  // Stops serving; every request received, repeats included, in order.
  std::vector<PeerRequest> Finish();

 private:
  void Answer(std::vector<std::string> replies);

  int socket_ = -1;
  int wrongPortSocket_ = -1;
  uint8_t address_[kHardwareAddressSize] = {};
  bool ready_ = false;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::vector<PeerRequest> requests_;
};
