#pragma once

#include <cstdint>
#include <string_view>

#include "net/datagram.h"

// The client's side of one conversation as the acceptance rules see it: its own address, the
// server it talks to (zero until an offer is taken) and the sequence counters. The installer and
// install-load keep one each per conversation; only these rules decide what they accept.
struct ClientConversation {
  uint8_t ownAddress[kHardwareAddressSize] = {};
  uint8_t peerAddress[kHardwareAddressSize] = {};  // zero: no server yet
  uint32_t sendCounter = 0;                        // sequence number of the last request
  uint32_t receiveCounter = 0;                     // sequence number of the last accepted datagram
};

// What the rules say of a received datagram.
enum class Verdict {
  kAccepted,  // the server's next datagram; receiveCounter has taken its sequence number
  kRefused,
  kRepeated,  // refused, and only for carrying the sequence number accepted last
};

// Judges a received datagram of `length` bytes by the seven rules in order: a whole header, the
// payload length that arrived, not our own, to us (to everyone only before a server is known),
// from our server once known, acknowledging nothing unsent, and the next sequence number.
Verdict JudgeDatagram(ClientConversation& conversation, const uint8_t* datagram, int length);

// Stamps an outgoing datagram: the payload length, the next own sequence number (sendCounter
// goes up by one), receiveCounter as acknowledgement, ownAddress to peerAddress.
void StampRequest(ClientConversation& conversation, uint8_t* datagram, uint16_t payloadLength);

// Forgets the server and starts the counters again, as a broadcast begins a conversation.
void RestartConversation(ClientConversation& conversation);

// Whether a datagram is an offer to ownAddress whose payload begins with `word`: judged as the
// first datagram of a new conversation (which it restarts), addressed to us and not empty. On
// true its sender is the conversation's server.
bool TakeOffer(ClientConversation& conversation, const uint8_t* datagram, int length,
               std::string_view word);
