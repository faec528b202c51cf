#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packages/package.h"
#include "streams/package_format.h"
#include "streams/part_writer.h"
#include "tools/vpk/archive_writer.h"

// Writing of package files. A package is its header part followed, in this order and each only
// when present, by the architecture, description, dependencies, provides, conflicts, image,
// install script, uninstall script, file archive and signature parts. Bytes that readers do not
// read are zeros. Every failure prints one "vpk: " message and returns false.

// What a package holds besides the fields of its header record.
struct PackageContents {
  std::string tree;  // directory that becomes the file archive; empty: no archive part
  TreeOptions treeOptions;
  std::string installScript;    // file holding the install script; empty: none
  std::string uninstallScript;  // file holding the uninstall script; empty: none
  std::string image;            // file whose bytes form the image part; empty: none
  bool flagsWord = false;       // a header of 36 bytes that carries info.flags
  bool unrecorded = false;      // the unrecorded container magic
};

// Checks what the fixed fields cannot hold: a package or dependency name over 16 bytes, or more
// than 65535 records in one list. Prints the first problem and returns false. (Which names are
// sensible is the command line's business; tests may store odd ones.)
bool CheckStorable(const PackageInfo& info);

// Writes the header part of the given type (PartHeader or PartBundleHeader), 36 bytes with the
// flags word or 32 without, then the architecture, description, dependencies, provides and
// conflicts parts of info, each only when not empty. The caller has run CheckStorable.
void WriteHeaderParts(PartWriter& writer, int type, const PackageInfo& info, bool flagsWord);

// Writes a part with the given content.
void WriteContentPart(PartWriter& writer, int type, const std::string& content);

// Writes a part whose content is the list of records (a 2-byte count, then the records).
void WriteDependencyPart(PartWriter& writer, int type, const std::vector<Dependency>& list);

// Writes the bytes of the file at path from offset to its end into writer as they are. Prints an
// error and returns false when the file cannot be read or written.
bool AppendFileBytes(PartWriter& writer, const std::string& path, std::uint64_t offset);

// Writes a part whose content is the whole of the file at path. Prints an error and returns
// false when the file cannot be read or the part would be 4 GiB or larger.
bool WriteFileContentPart(PartWriter& writer, int type, const std::string& path);

// Writes all parts of one unsigned package into writer.
bool WritePackageParts(PartWriter& writer, const PackageInfo& info,
                       const PackageContents& contents);

// Writes the package file at path, signed with signingKey (a private key of 32 bytes, as
// ReadPrivateKey reads it) unless that is null. The file is written under a temporary name and
// renamed at the end, so on any failure nothing appears at path (an existing file there stays as
// it was).
bool WritePackageFile(const std::string& path, const PackageInfo& info,
                      const PackageContents& contents, const std::uint8_t* signingKey = nullptr);
