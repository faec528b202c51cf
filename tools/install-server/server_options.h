#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "tools/install-server/served_directory.h"

// The command line of install-server.

struct ServerOptions {
  std::string directory;                // the served directory
  std::string profiles;                 // the profile file; empty: one default profile
  std::vector<std::string> interfaces;  // at least one
  int duplicateEvery = 0;               // > 0: send every Nth answer twice
  std::string events;                   // the fleet view's file; "-": standard output
  DefaultDrivers defaultDrivers = DefaultDrivers::kRequired;
  bool help = false;
};

// Exit statuses, as daemons usually have them.
constexpr int kExitStopped = 0;  // stopped by SIGTERM or SIGINT, or --help
constexpr int kExitFailed = 1;   // could not start, or could not go on
constexpr int kExitUsage = 2;    // the command line is wrong

// Parses argv[1..argc-1]: "--name VALUE" or "--name=VALUE". Prints "install-server: ..." and
// returns false for an unknown option, a missing value, a bad number, or no directory or interface
// (unless --help was given).
bool ParseServerOptions(int argc, char** argv, ServerOptions& out);

// Writes the --help text: options, the directory layout, the profile file and the exit statuses.
void PrintServerUsage(FILE* out);
