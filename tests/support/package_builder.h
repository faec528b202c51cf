#pragma once

// Package files for tests, built through the vpk writers. The archive holds exactly the entries
// added, in that order, also ones vpk build never makes (hostile names, skip flags, odd sizes).
// Failures are reported with ADD_FAILURE and a false or empty result.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "packages/package.h"
#include "tests/support/test_files.h"
#include "tools/vpk/archive_writer.h"

// Signs with the private test key of keys/.
bool SignWithTestKey(const std::string& path);

class TestPackage {
 public:
  enum Signing { kUnsigned, kSigned };

  // A package of that name and version text ("2.9.5", "2.9beta3", ...); build time 1700000000.
  TestPackage(const std::string& name, const char* version);

  // The header record: edit it directly for anything the helpers below do not cover.
  PackageInfo& Info() { return *info; }

  // Appends to the lists of info; text as on the vpk command line ("system>=2.9", "dhcp<3.0").
  TestPackage& Depends(const char* text);
  TestPackage& Provides(const char* text, std::int32_t priority);
  TestPackage& Conflicts(const char* text);
  // Sets info.flags and writes the 36-byte header that carries them.
  TestPackage& Flags(std::uint32_t flags);
  // Writes the unrecorded container magic.
  TestPackage& Unrecorded();
  TestPackage& Image(const std::string& bytes);
  TestPackage& InstallScript(const std::string& text);
  TestPackage& UninstallScript(const std::string& text);

  // Archive entries, owned by 0:0 with modification time 1700000000; permissions as given.
  TestPackage& Directory(const std::string& name, std::uint32_t permissions = 0755);
  TestPackage& File(const std::string& name, const std::string& content,
                    std::uint32_t permissions = 0644);
  TestPackage& Link(const std::string& name, const std::string& target);
  TestPackage& Device(const std::string& name, bool block, std::uint32_t major, std::uint32_t minor,
                      std::uint32_t permissions = 0600);
  // Any entry: the record as given (its dataSize is not adjusted), followed by data.
  TestPackage& Entry(const FileRecord& record, const std::string& data);

  // Writes the package file at path; false (with a test failure) when that fails.
  bool Write(const std::string& path, Signing signing = kUnsigned) const;
  // The bytes of the package file.
  std::string Bytes(Signing signing = kUnsigned) const;

 private:
  struct ArchiveEntry {
    FileRecord record;
    std::string data;
  };
  TestPackage& Add(std::uint32_t mode, const std::string& name, const std::string& data);

  // Held apart so that a builder can be returned from a function (records do not copy or move).
  std::unique_ptr<PackageInfo> info = std::make_unique<PackageInfo>();
  bool flagsWord = false;
  bool unrecorded = false;
  bool archive = false;
  std::string image, installScript, uninstallScript;
  std::vector<ArchiveEntry> entries;
};

// Writes a bundle of the member package files (build time 1700000000); false (with a test
// failure) when that fails.
bool WriteTestBundle(const std::string& path, const std::string& name, const char* version,
                     const std::vector<std::string>& memberFiles,
                     const std::vector<std::string>& disabledMembers = {});
