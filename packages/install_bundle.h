#pragma once

#include <string_view>

#include "packages/install_decision.h"
#include "packages/install_package.h"
#include "streams/part_reader.h"

// Installing a bundle: a bundle header followed by its member packages in one stream. Works on
// the process's package database and reports through the reporter.

// Results of InstallBundleFromStream.
constexpr int kBundleInstalled = 0;
constexpr int kBundleUnreadable = 1;  // the header could not be read or its entry not written
constexpr int kBundleRefused = 2;     // the decision refused the bundle (reported)
constexpr int kBundleEmpty = 3;       // no member was installed

// Installs the bundle whose header part the reader stands on. The bundle replaces the installed
// record of its name; its members are installed with AcceptInstalled added to mode, those named
// by the members part start disabled unless selection names them. Once some member is in, the
// members of the earlier installation that this bundle no longer brings are uninstalled, but
// only when the stream was read to its end (a bundle cut short keeps them). The boot flag of
// outputs receives whether a member carries the boot image.
int InstallBundleFromStream(PartReader& reader, InstallMode mode, const Selection& selection,
                            const InstallOutputs& outputs);
