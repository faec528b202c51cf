#pragma once

#include <sys/stat.h>

#include <cstdint>

// One block of the in-memory copy of an old configuration store. The copy is a byte sequence of
// entries (zero-terminated path, file status record, and for a regular file its content) spread
// over a chain of chunks, each allocated in one piece with its data behind these fields.
struct ConfigChunk {
  uint32_t magic;   // a fixed value that marks a chunk of this chain
  uint32_t limit;   // while filling: the capacity; once sealed: the bytes it holds
  uint32_t offset;  // while filling: the bytes written; once sealed: the bytes read back
  ConfigChunk* next;

  unsigned char* Data() { return reinterpret_cast<unsigned char*>(this + 1); }
};

inline constexpr uint32_t kChunkCapacity = 16000;

// Copies the store of the old system mounted at the target root (its /vela/store, else
// /rw/store) into memory, showing progress dots; a link that leads back to a directory on
// the current path ("/" included) is left out, and a copy larger than the available memory less a
// margin fails. Returns the first chunk, or null: silently when there is no store, after
// "ERROR: couldn't keep config - probably not enough memory" when the copy failed for any reason.
ConfigChunk* ReadOldConfiguration();

// Recreates the copied entries in the new system mounted at the target root with their modes,
// owners and times, showing progress dots, and frees the chain. On failure prints "ERROR: couldn't
// write old configuration - proboably not enough space on the disk" and returns false; entries
// written before stay.
bool WriteBackConfiguration(ConfigChunk* first);

// Frees the chain, clearing each chunk's fields first.
void FreeChunks(ConfigChunk* first);
