#pragma once

#include <string>

#include "packages/package.h"

// The 32-byte record of a dependency, conflict, provides or bundle-member entry.
std::string DependencyRecord(const Dependency& dependency);
