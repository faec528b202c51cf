#include "tools/install-server/served_directory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/test_files.h"

namespace {

class ServedDirectoryTest : public testing::Test {
 protected:
  ServedDirectoryTest() {
    mkdir((dir / "drivers").c_str(), 0755);
    mkdir((dir / "packages").c_str(), 0755);
    mkdir((dir / "packages/sub").c_str(), 0755);
    for (const char* name : {"b.vpk", "a.scr", "c.vpk", "a.vpk"}) {
      WriteTestFile(dir / ("packages/" + std::string(name)), name);
    }
    WriteTestFile(dir / "drivers/default.vpk", "default");
    WriteTestFile(dir / "drivers/5.10.vpk", "5.10");
    WriteTestFile(dir / "..vpk", "outside");
  }
  TemporaryDirectory dir;
};

// Without a profile file every router gets the packages by name, then the configuration.
TEST_F(ServedDirectoryTest, DefaultProfileIsTheWholePackageDirectory) {
  ServedDirectory served;
  ASSERT_TRUE(LoadServedDirectory(dir.Path(), "", &served));
  uint8_t anyone[6] = {2, 1, 2, 3, 4, 5};
  const Profile* profile = ProfileFor(served, anyone);
  ASSERT_NE(profile, nullptr);
  std::vector<std::string> names;
  for (const ServedFile& file : profile->files) {
    names.push_back(file.name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"a.vpk", "b.vpk", "c.vpk", "a.scr"}));
  EXPECT_FALSE(profile->keep);
}

// A release names a driver file only as a plain name; anything else gets the default.
TEST_F(ServedDirectoryTest, ChoosesTheDriverByRelease) {
  ServedDirectory served;
  ASSERT_TRUE(LoadServedDirectory(dir.Path(), "", &served));
  const std::pair<const char*, const char*> cases[] = {
      {"5.10", "5.10.vpk"},    {"6.1", "default.vpk"}, {"", "default.vpk"},
      {"../.", "default.vpk"}, {".", "default.vpk"},   {"../drivers/5.10", "default.vpk"},
  };
  for (const auto& [release, name] : cases) {
    ServedFile file;
    ASSERT_TRUE(ChooseDriverFile(served, release, &file)) << release;
    EXPECT_EQ(file.name, name) << release;
    EXPECT_EQ(ReadWholeTestFile(file.path), std::string(name).substr(0, file.name.size() - 4));
  }
}

// What cannot be served stops the server before it answers anyone.
TEST_F(ServedDirectoryTest, RefusesProfilesItCannotServe) {
  std::string huge = dir / "packages/huge.vpk";
  ASSERT_EQ(truncate((WriteTestFile(huge, ""), huge).c_str(), 300 << 20), 0);
  const std::pair<const char*, const char*> cases[] = {
      {"profile default erase missing.vpk\n", "packages/missing.vpk is not a regular file"},
      {"profile default erase sub\n", "packages/sub is not a regular file"},
      {"profile default erase huge.vpk\n", "profile 'default' needs 77184 datagrams"},
  };
  for (const auto& [text, message] : cases) {
    WriteTestFile(dir / "profiles", text);
    ServedDirectory served;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(LoadServedDirectory(dir.Path(), dir / "profiles", &served)) << text;
    EXPECT_NE(testing::internal::GetCapturedStderr().find(message), std::string::npos) << text;
  }
}

}  // namespace
