#include "tests/support/package_builder.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "streams/byte_order.h"
#include "streams/deflate_stream.h"
#include "streams/package_format.h"
#include "streams/part_writer.h"
#include "tools/vpk/bundle_writer.h"
#include "tools/vpk/package_signing.h"
#include "tools/vpk/package_writer.h"

namespace {

constexpr std::uint32_t kTestTime = 1700000000;

Dependency ParsedDependency(const char* text) {
  Dependency entry;
  if (!ParseDependency(text, entry)) {
    ADD_FAILURE() << "not a dependency: " << text;
  }
  return entry;
}

}  // namespace

bool SignWithTestKey(const std::string& path) {
  std::uint8_t key[kPrivateKeySize];
  bool ok =
      ReadPrivateKey(VELA_SOURCE_DIR "/keys/private_key.hex", key) && SignPackageFile(path, key);
  if (!ok) {
    ADD_FAILURE() << "cannot sign " << path;
  }
  return ok;
}

TestPackage::TestPackage(const std::string& name, const char* version) {
  info->name = name;
  info->buildTime = kTestTime;
  if (!ParseVersion(version, info->version)) {
    ADD_FAILURE() << "not a version: " << version;
  }
}

TestPackage& TestPackage::Depends(const char* text) {
  info->dependencies.push_back(ParsedDependency(text));
  return *this;
}

TestPackage& TestPackage::Provides(const char* text, std::int32_t priority) {
  info->provides.push_back(ParsedDependency(text));
  info->provides.back().priority = priority;
  return *this;
}

TestPackage& TestPackage::Conflicts(const char* text) {
  info->conflicts.push_back(ParsedDependency(text));
  return *this;
}

TestPackage& TestPackage::Flags(std::uint32_t flags) {
  info->flags = flags;
  flagsWord = true;
  return *this;
}

TestPackage& TestPackage::Unrecorded() {
  unrecorded = true;
  return *this;
}

TestPackage& TestPackage::Image(const std::string& bytes) {
  image = bytes;
  return *this;
}

TestPackage& TestPackage::InstallScript(const std::string& text) {
  installScript = text;
  return *this;
}

TestPackage& TestPackage::UninstallScript(const std::string& text) {
  uninstallScript = text;
  return *this;
}

TestPackage& TestPackage::Add(std::uint32_t mode, const std::string& name,
                              const std::string& data) {
  FileRecord record;
  record.mode = mode;
  record.modificationTime = kTestTime;
  record.dataSize = data.size();
  record.name = name;
  return Entry(record, data);
}

TestPackage& TestPackage::Directory(const std::string& name, std::uint32_t permissions) {
  return Add(S_IFDIR | permissions, name, "");
}

TestPackage& TestPackage::File(const std::string& name, const std::string& content,
                               std::uint32_t permissions) {
  return Add(S_IFREG | permissions, name, content);
}

TestPackage& TestPackage::Link(const std::string& name, const std::string& target) {
  return Add(S_IFLNK | 0777, name, target);
}

TestPackage& TestPackage::Device(const std::string& name, bool block, std::uint32_t major,
                                 std::uint32_t minor, std::uint32_t permissions) {
  std::string number;
  AppendLittleEndian(number, makedev(major, minor), kDeviceNumberSize);
  return Add((block ? S_IFBLK : S_IFCHR) | permissions, name, number);
}

TestPackage& TestPackage::Entry(const FileRecord& record, const std::string& data) {
  entries.push_back(ArchiveEntry{record, data});
  archive = true;
  return *this;
}

bool TestPackage::Write(const std::string& path, Signing signing) const {
  bool ok = CheckStorable(*info);
  {
    PartWriter writer(path, unrecorded);
    // The order of the parts is the one WritePackageParts writes.
    WriteHeaderParts(writer, PartHeader, *info, flagsWord);
    const std::pair<int, const std::string*> optional[] = {
        {PartImage, &image},
        {PartInstallScript, &installScript},
        {PartUninstallScript, &uninstallScript},
    };
    for (const auto& [type, content] : optional) {
      if (!content->empty()) {
        WriteContentPart(writer, type, *content);
      }
    }
    if (archive) {
      writer.BeginPart(PartFiles);
      DeflateStream deflate(writer);
      for (const ArchiveEntry& entry : entries) {
        ok = WriteFileRecord(deflate, entry.record) && ok;
        deflate.write(entry.data.data(), static_cast<std::streamsize>(entry.data.size()));
      }
      ok = deflate.FinishDeflate() && ok;
      writer.EndPart();
    }
    ok = writer.Close() && ok;
  }
  if (!ok) {
    ADD_FAILURE() << "cannot write the test package " << path;
    return false;
  }
  return signing == kUnsigned || SignWithTestKey(path);
}

std::string TestPackage::Bytes(Signing signing) const {
  TemporaryDirectory directory;
  std::string path = directory / "package.vpk";
  return Write(path, signing) ? ReadWholeTestFile(path) : "";
}

bool WriteTestBundle(const std::string& path, const std::string& name, const char* version,
                     const std::vector<std::string>& memberFiles,
                     const std::vector<std::string>& disabledMembers) {
  PackageInfo bundle(name);
  bundle.buildTime = kTestTime;
  BundleContents contents;
  contents.memberFiles = memberFiles;
  contents.disabledMembers = disabledMembers;
  bool ok = ParseVersion(version, bundle.version) && WriteBundleFile(path, bundle, contents);
  if (!ok) {
    ADD_FAILURE() << "cannot write the test bundle " << path;
  }
  return ok;
}

TemporaryDirectory::TemporaryDirectory() {
  char name[] = "/tmp/vela_test_XXXXXX";
  if (mkdtemp(name) == nullptr) {
    ADD_FAILURE() << "cannot create a temporary directory";
  }
  path = name;
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code error;
  if (std::filesystem::remove_all(path, error) == 0 || error) {
    ADD_FAILURE() << "cannot remove " << path;
  }
}

std::string ReadWholeTestFile(const std::string& path) {
  std::ifstream file(path, std::ios_base::binary);
  if (!file) {
    return "<unreadable>";
  }
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

bool WriteTestFile(const std::string& path, const std::string& content) {
  std::ofstream file(path, std::ios_base::binary | std::ios_base::trunc);
  file.write(content.data(), static_cast<std::streamsize>(content.size()));
  file.close();
  if (!file) {
    ADD_FAILURE() << "cannot write " << path;
    return false;
  }
  return true;
}
