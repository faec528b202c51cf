#pragma once

#include <cstdint>

#include <string_view>

#include "net/session.h"

// The conversations of the network installation: finding a server by broadcast and the
// stop-and-wait exchange of one request and its answer.

// Sends the request (its payload written after a cleared header) once on every interface, as
// the start of a new conversation: the server is forgotten, the counters start again and
// offerWait is kOfferWait; every kBroadcastsPerScan broadcasts the interfaces are scanned again
// first. A failed send leaves out the remaining interfaces.
void BroadcastRequest(NetSession& session, uint8_t* datagram, uint16_t payloadLength);

// Waits, for what is left of offerWait, for an offer addressed to this client whose payload
// begins with `word`. On true the offer is in `buffer` (kDatagramSize bytes), its interface
// selected and its sender the session's server; false when the time ran out.
bool WaitForOffer(NetSession& session, uint8_t* buffer, std::string_view word);

// Sends the stamped request on the interface and waits `microsecondsPerAttempt` for a reply that
// AcceptDatagram takes, sending the same request again up to `attempts` times in all. Returns
// the reply's length (the reply in `reply`, kDatagramSize bytes), or -1 when no reply came or a
// send failed.
int Exchange(NetInterface& interface, NetSession& session, const uint8_t* request, uint8_t* reply,
             uint64_t microsecondsPerAttempt, int attempts);
