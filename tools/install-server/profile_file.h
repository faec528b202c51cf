#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The profile file: which package set each router gets and whether it keeps its configuration.
//
//   # a comment runs to the end of its line
//   profile NAME keep|erase FILE...     a package set, its files in the order they are sent
//   router HH:HH:HH:HH:HH:HH NAME      this router gets profile NAME
//
// A router not listed gets the profile named "default"; without one it is not answered.

// One profile as written: its name, keep choice and file names (not yet looked up).
struct ProfileEntry {
  std::string name;
  bool keep = false;
  std::vector<std::string> files;
};

// The whole file: the profiles in file order, and each listed router's profile index.
struct ProfileFile {
  std::vector<ProfileEntry> profiles;
  std::map<uint64_t, size_t> routers;  // packed hardware address -> index into profiles
};

// Parses the text of a profile file; `label` names it in messages. Prints
// "install-server: LABEL:LINE: ..." and returns false on the first malformed line, a repeated
// profile or router, a router of an unknown profile, or a file name that a router would refuse.
bool ParseProfileFile(const std::string& text, const std::string& label, ProfileFile& out);

// True when a router accepts name as a file name: 1 to 31 characters, none of them "/", a blank
// or a control character, and not "." or "..".
bool IsServableName(const std::string& name);
