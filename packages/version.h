#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A packed package version: major (bits 31..24), minor (23..16), release type letter (15..8) and
// revision (7..0). Versions order as plain unsigned integers; in a dependency bound 0 means "no
// bound", in a package record it means "not read yet".
using PackageVersion = std::uint32_t;

// Release type letters. 'f' is the largest, so a final release sorts after the pre-releases of the
// same major.minor.
constexpr std::uint8_t kReleaseAlpha = 'a';
constexpr std::uint8_t kReleaseBeta = 'b';
constexpr std::uint8_t kReleaseCandidate = 'c';
constexpr std::uint8_t kReleaseFinal = 'f';

// Packs the four fields into a version word.
constexpr PackageVersion MakeVersion(std::uint8_t major, std::uint8_t minor,
                                     std::uint8_t releaseType, std::uint8_t revision) {
  return (PackageVersion{major} << 24) | (PackageVersion{minor} << 16) |
         (PackageVersion{releaseType} << 8) | PackageVersion{revision};
}

// A package name with an inclusive version range (0 = no bound on that side). `priority` is
// meaningful only in a provides list; it is 0 elsewhere.
struct Dependency {
  std::string name;
  PackageVersion minVersion = 0;
  PackageVersion maxVersion = 0;
  std::int32_t priority = 0;
};

// Text of a version: "2.9.5" (final with revision), "2.9" (final), "2.9beta3", "2.9rc1",
// "2.9alpha2", "2.9beta" (pre-release without number); an unknown type letter adds no suffix, so
// 0 gives "0.0". The text lives in one static buffer that the next call overwrites: copy it before
// computing a second one.
const char* VersionText(PackageVersion version);

// Reads the text forms that VersionText writes for the four release types: "2.9.5", "2.9",
// "2.9alpha2", "2.9beta3", "2.9rc1", and the pre-release forms without number ("2.9rc"). Each
// number is decimal, 0 to 255. Returns false for anything else (signs, blanks, missing or extra
// parts, numbers over 255) and leaves `out` unchanged then.
bool ParseVersion(std::string_view text, PackageVersion& out);

// True for a name that can stand for a package everywhere: 1 to 16 bytes (the size of a name field
// in a package file), printable ASCII without blanks, "/", or the comparison characters "<=>",
// and neither "." nor "..".
bool IsValidPackageName(std::string_view name);

// Reads a dependency as written on the package tool's command line:
//   name           any version            name=V    exactly V (minVersion = maxVersion = V)
//   name>=V        V or newer             name>V    newer than V (minVersion = V + 1)
//   name<=V        V or older             name<V    older than V (maxVersion = V - 1)
// The record's bounds are inclusive, so the strict forms move the bound by one step of the packed
// order: "dhcp<3.0" admits every version that orders before 3.0, its pre-releases (3.0rc1)
// included, and not 3.0 itself. Returns false, leaving `out` unchanged, for an invalid name or
// version or any other operator.
bool ParseDependency(std::string_view text, Dependency& out);
