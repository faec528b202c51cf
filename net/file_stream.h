#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "net/messages.h"
#include "net/session.h"

// The transfer of one file from the server: a RETR for its FILE header, then one RETR for each
// data datagram until an empty one ends the file.

// Replaces the session's current file by a new stream on the selected interface; returns it.
NetFileStream& ReplaceCurrentFile(NetSession& session);

// Asks for the next file's header and reads its name (up to 80 characters) and size.
FileHeader OpenNextFile(NetFileStream& stream);

// Reads the FILE header in the stream's buffer, whose payload is `payloadLength` bytes (-1: no
// answer came, kNoReply): name (at most 80 characters) and size; kBroken when the size is not a
// decimal number from 0 to 2^31-1. The parsing half of OpenNextFile, callable without a network.
FileHeader ReadFileHeader(NetFileStream& stream, int payloadLength);

// The name under which the file is stored (UsableFileName of the announced name).
std::string UsableFileName(const NetFileStream& stream);

// Hands out up to `maximum` bytes of the file into `buffer`, asking for the next data datagram
// when the last one is used up. Returns the count, 0 at the end of the file, or -1 when a request
// got no reply or the file ended before the size its header announced.
int ReadFileData(NetFileStream& stream, uint8_t* buffer, size_t maximum);
