#include "tools/install-server/served_directory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/test_files.h"

namespace {

class ServedDirectoryTest : public testing::Test {
 protected:
  ServedDirectoryTest() {
    mkdir((dir / "drivers").c_str(), 0755);
    mkdir((dir / "packages").c_str(), 0755);
    mkdir((dir / "packages/sub").c_str(), 0755);
    // A name with a blank cannot travel in a FILE line.
    for (const char* name : {"b.vpk", "a.scr", "c.vpk", "a.vpk", "two words.vpk"}) {
      WriteTestFile(dir / ("packages/" + std::string(name)), name);
    }
    WriteTestFile(dir / "drivers/default.vpk", "default");
    WriteTestFile(dir / "drivers/5.10.vpk", "5.10");
    WriteTestFile(dir / "..vpk", "outside");
    // Planted by someone who may write the directory: one link stays inside, two lead out.
    EXPECT_EQ(symlink("a.vpk", (dir / "packages/inside.vpk").c_str()), 0);
    EXPECT_EQ(symlink("/etc/hostname", (dir / "packages/link.vpk").c_str()), 0);
    EXPECT_EQ(symlink("../../..vpk", (dir / "packages/up.vpk").c_str()), 0);
  }
  TemporaryDirectory dir;
};

// Without a profile file every router gets the packages by name, then the configuration, and the
// driver of its release.
TEST_F(ServedDirectoryTest, DefaultProfileIsTheWholePackageDirectory) {
  ServedDirectory served;
  ASSERT_TRUE(LoadServedDirectory(dir.Path(), "", DefaultDrivers::kRequired, served));
  uint8_t anyone[6] = {2, 1, 2, 3, 4, 5};
  std::shared_ptr<const Profile> profile = ProfileFor(served, anyone);
  ASSERT_NE(profile, nullptr);
  std::vector<std::string> names;
  for (const ServedFile& file : profile->files) {
    names.push_back(file.name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"a.vpk", "b.vpk", "c.vpk", "inside.vpk", "a.scr"}));
  EXPECT_FALSE(profile->keep);
  // A release names a driver file only as a plain name; anything else gets the default.
  const std::pair<const char*, const char*> cases[] = {
      {"5.10", "5.10.vpk"},    {"6.1", "default.vpk"}, {"", "default.vpk"},
      {"../.", "default.vpk"}, {".", "default.vpk"},   {"../drivers/5.10", "default.vpk"},
  };
  for (const auto& [release, name] : cases) {
    ServedFile file;
    ASSERT_TRUE(ChooseDriverFile(served, release, file)) << release;
    EXPECT_EQ(file.name, name) << release;
    EXPECT_EQ(ReadWholeTestFile(file.path), std::string(name).substr(0, file.name.size() - 4));
  }
}

// What cannot be served stops the server before it answers anyone.
TEST_F(ServedDirectoryTest, RefusesProfilesItCannotServe) {
  std::string huge = dir / "packages/huge.vpk";
  ASSERT_EQ(truncate((WriteTestFile(huge, ""), huge).c_str(), 300 << 20), 0);
  ASSERT_EQ(mkfifo((dir / "packages/pipe.vpk").c_str(), 0644), 0);
  constexpr DefaultDrivers kRequired = DefaultDrivers::kRequired;
  constexpr DefaultDrivers kOptional = DefaultDrivers::kOptional;
  const struct {
    const char* profiles;
    DefaultDrivers defaultDrivers;
    bool loads;
    const char* message;
  } cases[] = {
      {"profile default erase missing.vpk\n", kRequired, false,
       "packages/missing.vpk: No such file"},
      {"profile default erase sub\n", kRequired, false, "packages/sub is not a regular file"},
      {"profile default erase pipe.vpk\n", kRequired, false,
       "packages/pipe.vpk is not a regular file"},
      {"profile default erase huge.vpk\n", kRequired, false,
       "profile 'default' needs 77184 datagrams"},
      {"profile default erase link.vpk\n", kRequired, false,
       "packages/link.vpk leads out of the served directory (refused)"},
      {"profile default erase up.vpk\n", kRequired, false, "packages/up.vpk leads out"},
      {"profile default erase inside.vpk\nprofile none keep\n", kRequired, true,
       "warning: profile 'none' has no files"},
      {"profile default erase a.vpk\n", kOptional, true, ""},
      {"profile default erase a.vpk\n", kRequired, false, "give --no-default-drivers"},
  };
  for (const auto& [text, defaultDrivers, loads, message] : cases) {
    if (defaultDrivers == DefaultDrivers::kOptional) {
      ASSERT_EQ(rename((dir / "drivers/default.vpk").c_str(), (dir / "drivers/old").c_str()), 0);
    }
    WriteTestFile(dir / "profiles", text);
    ServedDirectory served;
    testing::internal::CaptureStderr();
    EXPECT_EQ(LoadServedDirectory(dir.Path(), dir / "profiles", defaultDrivers, served), loads)
        << text;
    EXPECT_NE(testing::internal::GetCapturedStderr().find(message), std::string::npos) << text;
  }
}

}  // namespace
