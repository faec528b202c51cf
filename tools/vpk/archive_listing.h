#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "streams/part_reader.h"

// Listing of the file archive of a package and the small text helpers of vpk inspect. The archive
// is read as hostile input: every size is checked and nothing is held beyond one entry's name and
// a short preview of link targets.

// Writes one line per entry of the archive in the reader's current PartFiles part: mode as ls
// shows it, owner/group, data size (or the device numbers), modification time (UTC) and name,
// with "-> TARGET" for a link. Then a line with the count of entries and their total data size.
// Returns false, after a line that says what is wrong, when the archive is damaged (corrupt
// compressed data, an entry cut short, a device entry whose data is not 4 bytes).
bool ListArchive(PartReader& reader, std::FILE* out);

// The text with bytes outside printable ASCII written as \xNN, so that hostile names cannot
// drive the terminal.
std::string Printable(const std::string& text);

// Lower-case hex of size bytes.
std::string HexText(const std::uint8_t* bytes, int size);

// seconds (since 1970 UTC) as "YYYY-MM-DD HH:MM:SS".
std::string TimeText(std::uint32_t seconds);
