#pragma once

#include <cstdint>

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
