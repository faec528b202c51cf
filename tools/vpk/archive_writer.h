#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ostream>
#include <string>

#include "streams/package_format.h"
#include "streams/part_writer.h"

// The file archive of a package: a sequence of entries, each a 30-byte record, the entry's name
// and its data (file content, link target or a 4-byte device number), compressed as one zlib
// stream in a PartFiles part. Every failure prints one "vpk: " message and returns false.

constexpr std::uint64_t kLargestEntryData = UINT32_MAX;
constexpr std::size_t kLargestEntryName = UINT16_MAX;

// The record of one archive entry. Fields wider than their stored size are refused by
// WriteFileRecord rather than cut.
struct FileRecord {
  std::uint32_t mode = 0;  // file type and permission bits as in st_mode
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
  std::int64_t modificationTime = 0;  // seconds since 1970 UTC
  bool skip = false;                  // readers pass the entry over
  std::uint64_t dataSize = 0;
  std::string name;  // path in the installed system, normally with a leading "/"
};

// Writes the record and the name of entry (the data follows from the caller). Bytes that readers
// do not read are zeros. Refuses, before writing anything, a mode, owner or group over 65535, a
// time outside 0 to 2^32-1, data over 4 GiB - 1 or a name over 65535 bytes.
bool WriteFileRecord(std::ostream& out, const FileRecord& entry);

// How a directory tree becomes an archive.
struct TreeOptions {
  bool overrideOwner = false;  // store owner and group below instead of each file's own
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
  // A file never stored, however it is reached (the package being written into the tree).
  bool excludeFile = false;
  dev_t excludeDevice = 0;
  ino_t excludeInode = 0;
};

// Writes one entry for everything below the directory tree (not the tree itself): directories,
// regular files, symbolic links, character and block devices and FIFOs, each named "/" + its path
// relative to tree. Entries come in byte order of their names within each directory, every
// directory right before its contents. Refuses sockets, a file that changes size while it is
// read, and whatever WriteFileRecord refuses.
bool WriteTreeArchive(std::ostream& out, const std::string& tree, const TreeOptions& options);

// Writes a PartFiles part holding the archive of tree.
bool WriteFilesPart(PartWriter& writer, const std::string& tree, const TreeOptions& options);
