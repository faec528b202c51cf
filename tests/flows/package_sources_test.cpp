#include "flows/package_sources.h"

#include <optional>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/package_builder.h"

namespace {

// Names in list order, each marked package with a '*'.
std::string Shown(const PackageList& list) {
  std::string shown;
  for (const auto& p : list) {
    shown += (shown.empty() ? "" : " ") + p->name + (p->selected ? "*" : "");
  }
  return shown;
}

struct MediumCase {
  std::vector<std::pair<std::string, std::string>> files;  // file name, package name or ""
  std::optional<std::string> defpacks;                     // nullopt: no such file
  std::string shown;
  const char* failure = nullptr;  // the one message of a medium that cannot be read
  const char* below = "";         // where below the medium the files are looked for
};

TEST(ReadPackageFiles, OrdersByNameBehindThePriorityNamesAndMarksTheDefaults) {
  const std::string longWord(92, 'w');
  const MediumCase cases[] = {
      {{{"w.vpk", "wireless"},
        {"d.vpk", "dhcp"},
        {"s.vpk", "system"},
        {"p.vpk", "ppp"},
        {"t.vpk", "advanced-tools"}},
       std::nullopt,
       "system ppp dhcp advanced-tools wireless"},
      {{{"1.vpk", "z"}, {"2.vpk", "dhcp"}, {"3.vpk", "a"}, {"4.vpk", "ppp"}},
       std::nullopt,
       "a ppp dhcp z"},
      // A priority name whose place lies past the end of a short list stays in it, at its end.
      {{{"d.vpk", "dhcp"}, {"p.vpk", "ppp"}}, std::nullopt, "ppp dhcp"},
      // Bytes compare unsigned: capitals first, a byte above 127 after every letter.
      {{{"1.vpk", "\xc3\xa9t\xc3\xa9"}, {"2.vpk", "zulu"}, {"3.vpk", "Zulu"}, {"4.vpk", "alpha"}},
       std::nullopt,
       "Zulu alpha zulu \xc3\xa9t\xc3\xa9"},
      // Only names ending exactly in ".vpk" are read; ".vpk" alone is such a name.
      {{{"notes.txt", ""},
        {"UPPER.VPK", "upper"},
        {"x.vpk.old", "old"},
        {".vpk", "dot"},
        {"b.vpk", "beta"}},
       std::nullopt,
       "beta dot"},
      // The defaults: words on lines with odd line ends, missing names, a word too long to be a
      // name, binary junk; "system" is marked whether listed or not.
      {{{"s.vpk", "system"},
        {"p.vpk", "ppp"},
        {"w.vpk", "wireless"},
        {"d.vpk", "dhcp"},
        {"z.vpk", "zebra"}},
       "ppp\r\n\n  wireless missing\t\x01\xff\n" + longWord + "zebra\n" + longWord + " dhcp",
       "system* ppp* dhcp* wireless* zebra"},
      // Files are read in name order; the bad one is no container: its record stays, nameless.
      {{{"a.vpk", "system"}, {"b.vpk", ""}, {"c.vpk", "ppp"}},
       std::nullopt,
       "system ",
       "FATAL ERROR: Bad package -0.0\n"},
      {{{"notes.txt", ""}}, std::nullopt, "", "FATAL ERROR: No packages found\n"},
      {{}, std::nullopt, "", "FATAL ERROR: No packages found\n", "/missing"},
  };
  for (const MediumCase& example : cases) {
    TemporaryDirectory medium;
    for (const auto& [file, package] : example.files) {
      if (package.empty()) {
        WriteTestFile(medium / file, "text\n");
      } else {
        TestPackage(package, "1.0").Write(medium / file);
      }
    }
    if (example.defpacks) {
      WriteTestFile(medium / "defpacks", *example.defpacks);
    }
    PackageList list;
    testing::internal::CaptureStdout();
    EXPECT_EQ(ReadPackageFiles(list, medium.Path() + example.below), example.failure == nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), example.failure ? example.failure : "");
    EXPECT_EQ(Shown(list), example.shown);
  }
}

TEST(ReadDefaultSelection, TakesWordsOfUpTo91BytesWholeFromARegularFileOnly) {
  TemporaryDirectory medium;
  PackageList list;
  for (size_t length : {91, 92}) {
    list.push_back(std::make_unique<SelectablePackage>());
    list.back()->name = std::string(length, 'w');
  }
  // The 92-byte word is no 91-byte name followed by something else.
  for (size_t length : {92, 91}) {
    WriteTestFile(medium / "defpacks", std::string(length, 'w'));
    EXPECT_TRUE(ReadDefaultSelection(list, medium / "defpacks"));
    EXPECT_EQ(list[0]->selected, length == 91);
    EXPECT_FALSE(list[1]->selected);
  }
  EXPECT_FALSE(ReadDefaultSelection(list, medium / "missing"));
  EXPECT_FALSE(ReadDefaultSelection(list, medium.Path()));  // a directory named so is no file
}

TEST(OrderSelectedPackages, PutsTheMarkedPackagesAfterWhatTheyNeed) {
  PackageList list;
  auto add = [&](const char* name, const char* needs, bool selected) {
    list.push_back(std::make_unique<SelectablePackage>());
    list.back()->name = name;
    list.back()->version = MakeVersion(1, 0, 'f', 0);
    if (*needs != '\0') {
      list.back()->dependencies.push_back(Dependency{needs});
    }
    list.back()->selected = selected;
  };
  add("wireless", "advanced-tools", true);
  add("dhcp", "", false);
  add("advanced-tools", "system", true);
  add("system", "", true);  // built later than the same version below: only this one stays
  list.back()->buildTime = 1700000000;
  add("system", "", true);
  list[0]->members.push_back(std::make_unique<PackageInfo>("wireless-firmware"));
  std::vector<SelectablePackage*> order{list[1].get()};
  OrderSelectedPackages(list, order);
  ASSERT_EQ(order.size(), 3u);
  EXPECT_EQ(order[0], list[3].get());
  EXPECT_EQ(order[1]->name, "advanced-tools");
  EXPECT_EQ(order[2]->name, "wireless");
  // The members lent to the ordering are back with their bundle.
  ASSERT_EQ(list[0]->members.size(), 1u);
  EXPECT_EQ(list[0]->members[0]->name, "wireless-firmware");
}

}  // namespace
