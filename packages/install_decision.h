#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "packages/package.h"

// Whether a package may be installed next to what is installed already: the modes a caller gives
// an installation, the verdict of the decision and the states a caller chooses for packages.

// The bit set a caller gives an installation.
using InstallMode = std::uint32_t;
constexpr InstallMode AllowUpgrade = 1;      // an older installed package may be replaced
constexpr InstallMode AllowDowngrade = 2;    // a newer installed package may be replaced
constexpr InstallMode AcceptInstalled = 4;   // the installed same version counts as installed
constexpr InstallMode IgnoreUnusable = 8;    // wrong architecture or missing dependencies pass
constexpr InstallMode IgnoreConflicts = 16;  // a conflicting bundle header is not refused
constexpr InstallMode AllInstallModes = 31;

// The bit set DecideInstall returns; each bit is the hindrance that the mode bit of the same value
// lets pass.
using Verdict = std::uint32_t;
constexpr Verdict kVerdictUpgrade = 1;     // an older version of it is installed
constexpr Verdict kVerdictDowngrade = 2;   // a newer version of it is installed
constexpr Verdict kVerdictInstalled = 4;   // the same version is installed
constexpr Verdict kVerdictUnusable = 8;    // wrong architecture or an unmet dependency
constexpr Verdict kVerdictConflicts = 16;  // an enabled installed package conflicts with it

// Package names mapped to the state a caller chose for them: true for disabled. A package found
// here is installed in that state and marked as forced by the user.
using Selection = std::map<std::string, bool>;

// The architecture this system runs; an empty architecture text stands for it too.
extern const char* const kSystemArchitecture;

// Judges p against the installed packages under mode and returns every hindrance found. Reports
// at most one of them (the first whose mode bit is clear): "omitting package ..." as a warning for
// an installed version, "can not install ..." as an error for the architecture, the first unmet
// dependency or a conflict. Later hindrances still set their bits.
Verdict DecideInstall(const PackageInfo& p, InstallMode mode);
