#pragma once

#include <span>

// How many times the media flows go through their device lists before giving up.
inline constexpr int kDeviceSearchPasses = 20;

// Tries the devices in order, in up to kDeviceSearchPasses passes one second apart, until
// `tryDevice` accepts one. Returns that device, or null when every pass failed.
const char* SearchDevices(std::span<const char* const> devices, bool (*tryDevice)(const char*));
