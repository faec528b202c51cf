#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "console/console.h"

// The messages of the network installation, as payloads after the datagram header: the words
// that begin them, the texts both parties send and the reading of those that carry fields.

// The four-letter words, in the order of a conversation. Client: DRVR and DSCV as broadcasts,
// then YACK, STRT, RETR and WTRM. Server: OFDR and OFFR as offers, OKAY, FILE or DONE, TERM.
inline constexpr std::string_view kDriverRequestWord = "DRVR";
inline constexpr std::string_view kDriverOfferWord = "OFDR";
inline constexpr std::string_view kDiscoverWord = "DSCV";
inline constexpr std::string_view kOfferWord = "OFFR";
inline constexpr std::string_view kAcceptWord = "YACK";
inline constexpr std::string_view kStartWord = "STRT";
inline constexpr std::string_view kRetrieveWord = "RETR";
inline constexpr std::string_view kFileWord = "FILE";
inline constexpr std::string_view kFarewellWord = "WTRM";
inline constexpr std::string_view kFarewellAnswerWord = "TERM";

// The payloads that are a fixed text, byte for byte as they are sent.
inline constexpr std::string_view kAcceptOffer = "YACK\n";
inline constexpr std::string_view kRequestData = "RETR";
inline constexpr std::string_view kStartInstallation = "STRT";
inline constexpr std::string_view kFarewell = "WTRM";
inline constexpr std::string_view kDriverOffer = "OFDR\n";
inline constexpr std::string_view kAnswerOkay = "OKAY\n";
inline constexpr std::string_view kListEnd = "DONE\n";  // any answer but FILE ends the list
inline constexpr std::string_view kFarewellAnswer = "TERM\n";

// Writes `payload` after the header of `datagram` (cut to the room there is) and returns its
// length, for StampRequest or BroadcastRequest.
uint16_t WritePayload(uint8_t* datagram, std::string_view payload);

// The payload of a datagram, as long as its header says (at most the room there is).
std::string_view PayloadText(const uint8_t* datagram);

// Whether the datagram's payload (its header's length) begins with `word`.
bool PayloadBegins(const uint8_t* datagram, std::string_view word);

// The disk label a client sends in its DSCV when it has none of its own.
inline constexpr std::string_view kDefaultDiskLabel = kProductName;

// The DSCV payload: the word, both identity lines, the disk label and the architecture, each
// ended by a line feed, and a zero byte that the payload counts.
std::string DiscoverPayload(std::string_view identity1, std::string_view identity2,
                            std::string_view label);

// The DRVR payload: the word, a line feed, the running kernel's release, and a counted zero byte.
std::string DriverRequestPayload(std::string_view release);

// The OFFR payload: the profile's name as line 2, and "keep" as line 3 when it keeps the old
// configuration.
std::string OfferPayload(std::string_view profile, bool keep);

// The FILE payload announcing a file's name and size (-1: a file that cannot be sent, which the
// client refuses as a broken header).
std::string FileHeaderPayload(std::string_view name, int64_t size);

// What an OFFR says: its second line and whether the third reads "keep".
struct Offer {
  std::string_view profile;
  bool keep = false;
};

// Reads an OFFR payload: false when it lacks its second line feed or its second line is longer
// than 512 characters.
bool ReadOffer(std::string_view payload, Offer& offer);

// What the answer to the RETR that opens a file brought.
enum class FileHeader {
  kOpened,   // a FILE header: name and size are set
  kNone,     // an answer that is no FILE header: the server has no more files
  kNoReply,  // no answer in all the attempts (the file stream's case)
  kBroken,   // a FILE header whose size is no decimal number from 0 to 2^31 - 1
};

// Reads a FILE payload: its name (line 2, whole) and size (line 3); kNone for another word.
FileHeader ReadFileHeader(std::string_view payload, std::string_view& name, int32_t& size);

// The name under which an announced file is stored: its first 31 characters, or empty when they
// are empty, "." or "..", or hold a "/" (the file would land outside its folder).
std::string UsableFileName(std::string_view announced);

// The release text of a DRVR payload: after the first line feed, up to a NUL or the end, at most
// 64 characters; empty when there is no line feed.
std::string DriverRelease(std::string_view payload);

// The identity lines, disk label and architecture of a DSCV payload, each cut at 128 characters
// and with unprintable characters shown as "?".
std::vector<std::string> DiscoverLines(std::string_view payload);
