#pragma once

#include <cstddef>
#include <cstdint>

// The package file format, shared by the reader, the unpacker and the package tool's writers and
// inspector. A file is a container header followed by parts; every number is little-endian.

// Part type numbers of a part container. A reader accepts only the types its caller asks for;
// every other part, including types not named here, is skipped.
constexpr int PartHeader = 1;
constexpr int PartDescription = 2;
constexpr int PartDependencies = 3;
constexpr int PartFiles = 4;
constexpr int PartInstallScript = 7;
constexpr int PartUninstallScript = 8;
constexpr int PartSignature = 9;
constexpr int PartArchitecture = 16;
constexpr int PartConflicts = 17;
constexpr int PartBundleHeader = 18;
constexpr int PartProvides = 19;
constexpr int PartBundleMembers = 20;
constexpr int PartImage = 21;

// Container magics, read little-endian from the first 4 bytes. An unrecorded container's package
// is installed but not entered in the package database.
constexpr std::uint32_t kContainerMagic = 0xbad0f11e;
constexpr std::uint32_t kUnrecordedMagic = 0xa1100ffb;

// The container header (magic, length of what follows) and each part header (type, length).
constexpr int kContainerHeaderSize = 8;
constexpr int kPartHeaderSize = 6;

// The header part (PartHeader or PartBundleHeader): a name padded with NUL bytes (it may fill all
// 16 without one), version, build time, 8 bytes nobody reads, and in newer files a flags word.
constexpr std::size_t kNameFieldSize = 16;
constexpr int kHeaderVersionOffset = 16;
constexpr int kHeaderBuildTimeOffset = 20;
constexpr int kHeaderSize = 32;
constexpr int kHeaderFlagsOffset = 32;
constexpr int kHeaderWithFlagsSize = 36;

// Bits of the header's flags word.
constexpr std::uint32_t kFlagBootImage = 1;        // the package carries the boot image
constexpr std::uint32_t kFlagNoMetadataFiles = 2;  // its metadata files are not kept

// A dependency, provides, conflicts or bundle-members part: a 2-byte count, then records of a
// name field, the lowest and highest version (0 = unbounded) and a priority.
constexpr int kDependencyCountSize = 2;
constexpr int kDependencyRecordSize = 32;
constexpr int kDependencyMinOffset = 16;
constexpr int kDependencyMaxOffset = 24;
constexpr int kDependencyPriorityOffset = 28;
constexpr std::size_t kMostDependencies = UINT16_MAX;

// Architecture and description parts hold short texts. A longer one marks a broken package:
// readers refuse it rather than hold it in memory.
constexpr std::uint32_t kLargestTextPart = 64 * 1024;

// The file archive of a PartFiles part (one zlib stream): per entry a record, its name and its
// data (file content, link target or device number). Record fields, offset and size in bytes:
constexpr int kFileRecordSize = 30;
constexpr int kFileModeOffset = 0;         // 2: type and permission bits as in st_mode
constexpr int kFileOwnerOffset = 2;        // 2
constexpr int kFileGroupOffset = 4;        // 2
constexpr int kFileTimeOffset = 8;         // 4: modification time, seconds since 1970 UTC
constexpr int kFileSkipOffset = 23;        // 1: non-zero when readers pass the entry over
constexpr int kFileDataSizeOffset = 24;    // 4
constexpr int kFileNameLengthOffset = 28;  // 2
constexpr int kDeviceNumberSize = 4;       // the data of a device entry
