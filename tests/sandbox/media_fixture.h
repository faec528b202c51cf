#pragma once

#include <string>

#include "tests/support/sandbox_root.h"

// The packages of the fixture media: system (boot image), ppp (image, needs system), dhcp,
// advanced-tools (needs ppp) and wireless, signed with the test key. Each installs "/etc/NAME"
// holding "NAME\n".
inline constexpr const char* kFixturePackages[] = {"system", "ppp", "dhcp", "advanced-tools",
                                                   "wireless"};

// Writes the fixture packages as NAME.vpk into `directory` of the root; false (with a test
// failure) when that fails.
bool WriteFixturePackages(const SandboxRoot& root, const std::string& directory);
