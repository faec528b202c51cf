#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The texts of the network installation's messages, as payloads after the datagram header.

// The requests whose payload is a fixed text.
inline constexpr std::string_view kAcceptOffer = "YACK\n";
inline constexpr std::string_view kRequestData = "RETR";
inline constexpr std::string_view kStartInstallation = "STRT";
inline constexpr std::string_view kFarewell = "WTRM";

// Writes `payload` after the header of `datagram` (cut to the room there is) and returns its
// length, for FillHeader or BroadcastRequest.
uint16_t WritePayload(uint8_t* datagram, std::string_view payload);

// The DSCV payload: the word, both identity lines, the disk label and the architecture, each
// ended by a line feed, and a zero byte that the payload counts.
std::string DiscoverPayload(std::string_view identity1, std::string_view identity2,
                            std::string_view label);

// The DRVR payload: the word, a line feed, the running kernel's release, and a counted zero byte.
std::string DriverRequestPayload(std::string_view release);

// Whether the datagram's payload (its header's length) begins with `word`.
bool PayloadBegins(const uint8_t* datagram, std::string_view word);

// Reads an OFFR payload: false when it lacks its second line feed or its second line is longer
// than 512 characters; otherwise `keep` tells whether the third line reads "keep".
bool ReadOffer(const uint8_t* datagram, bool& keep);
