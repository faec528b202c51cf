#include "packages/database_load.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <sstream>

#include "packages/database_lookup.h"
#include "packages/database_store.h"
#include "tests/support/package_scenario.h"

// Every field the database keeps, in one line; empty lists and clear flags are left out.
static std::string Describe(const Package& p) {
  std::ostringstream out;
  out << "v=" << p.version << " t=" << p.buildTime;
  const std::pair<const char*, const std::vector<Dependency>*> lists[] = {
      {"deps", &p.dependencies}, {"provides", &p.provides}, {"conflicts", &p.conflicts}};
  for (const auto& [label, list] : lists) {
    for (const Dependency& d : *list) {
      out << " " << label << "=" << d.name << "," << d.minVersion << "," << d.maxVersion << ","
          << d.priority;
    }
  }
  if (!p.bundle.name.empty()) {
    out << " bundle=" << p.bundle.name << "," << p.bundle.minVersion << "," << p.bundle.maxVersion;
  }
  for (const std::string& path : p.files) {
    out << " " << path;
  }
  out << (p.noFileList ? " nofiles" : "") << (p.disabled ? " disabled" : "")
      << (p.userForced ? " forced" : "") << " action=" << p.scheduledAction;
  return out.str();
}

// Every state, stored or switched afterwards, and every list load back as written; a stale
// "bundle" of a package that no longer belongs to one is gone.
TEST(DatabaseLoadTest, WrittenPackagesLoadBackUnchanged) {
  PackageTree tree;
  WriteTreeFile(tree.Target("/var/pdb/a/bundle"), "old\n");
  std::vector<std::unique_ptr<Package>> stored;
  for (int state = 0; state < 4; ++state) {
    auto p = std::make_unique<Package>(std::string(1, char('a' + state)));
    p->version = MakeVersion(2, 4, 'b', 3);
    p->buildTime = 4000000000u;
    p->dependencies = {{"libc", MakeVersion(2, 0, 'f', 0)}, {"kernel", 0, 1}};
    p->provides = {{"dialer", 0, 0xffffffff, -7}, {"modem", 1, 2, 3}};
    p->conflicts = {{"pppd", 5, 6}};
    p->bundle.name = state == 0 ? "" : "net";  // its version lives in the bundle's image
    p->noFileList = state == 2;
    if (!p->noFileList) {
      p->files = {"/etc/ppp/options", "/usr/sbin/ppp"};
    }
    p->disabled = state >= 2;
    p->userForced = state % 2 == 1;
    p->scheduledAction = kScheduleEnable;
    ASSERT_TRUE(StorePackage(*p)) << p->name;
    stored.push_back(std::move(p));
  }
  WriteDisabledState(*stored[1]);  // replaces "enabled"
  WriteEnabledState(*stored[3]);   // replaces "disabled"
  for (int state : {0, 2}) {
    stored[state]->scheduledAction = kScheduleNone;
  }
  ASSERT_TRUE(LoadDatabase({.quiet = true}));
  EXPECT_TRUE(GetPackageDatabase().quiet);
  EXPECT_EQ(Names(AllPackages()), "a b c d");
  for (const auto& p : stored) {
    Package* loaded = FindPackage(p->name);
    ASSERT_NE(loaded, nullptr) << p->name;
    EXPECT_EQ(Describe(*loaded), Describe(*p)) << p->name;
  }
  EXPECT_TRUE(stored[1]->disabled && !stored[3]->disabled);
}

// Damaged or partial entries beside a "version" of "1 2" load as far as they go (a FIFO must not
// block, a number not wrap), a damaged one scheduled for removal; loading consumes a request.
TEST(DatabaseLoadTest, ReadsEachEntryAsFarAsItGoes) {
  const std::string schedule = "/ram/pdb/p/schedule";
  const std::pair<std::map<std::string, std::string>, const char*> cases[] = {
      {{}, "v=1 t=2 nofiles action=0"},
      {{{"disabled", "auto\n"}, {"enabled", "user\n"}}, "v=1 t=2 nofiles disabled action=0"},
      {{{"disabled", "automatic\n"}}, "v=1 t=2 nofiles disabled forced action=0"},
      {{{"version", "4294967296 1\n"}}, "v=0 t=0 nofiles action=1"},
      {{{"deps", "a 1 2\nb 3\nc 4 5\n"}}, "v=1 t=2 deps=a,1,2,0 nofiles action=1"},
      {{{"conflicts", "a 1 2\nb -1 2\n"}}, "v=1 t=2 conflicts=a,1,2,0 nofiles action=1"},
      {{{"deps", "<fifo>"}}, "v=1 t=2 nofiles action=1"},
      {{{"files", "bin/x\n/bin/x\n\nusr/y"}}, "v=1 t=2 /bin/x /usr/y action=0"},
      {{{"files", "<fifo>"}}, "v=1 t=2 action=1"},
      {{{schedule, "uninstall\n"}}, "v=1 t=2 nofiles action=1"},
      {{{"disabled", "auto"}, {schedule, "enable"}}, "v=1 t=2 nofiles disabled forced action=2"},
      {{{schedule, " disable\n"}}, "v=1 t=2 nofiles forced action=3"}};
  for (const auto& [files, expected] : cases) {
    PackageTree tree;
    WriteTreeFile(tree.Target("/var/pdb/p/version"), "1 2");
    for (const auto& [file, content] : files) {
      std::string path = file[0] == '/' ? tree.System(file) : tree.Target("/var/pdb/p/") + file;
      WriteTreeFile(path, content);
      if (content == "<fifo>") {
        ASSERT_TRUE(unlink(path.c_str()) == 0 && mkfifo(path.c_str(), 0644) == 0);
      }
    }
    ASSERT_TRUE(LoadDatabase({.quiet = false}));
    ASSERT_EQ(Names(AllPackages()), "p") << expected;
    EXPECT_EQ(Describe(*FindPackage("p")), expected);
    EXPECT_FALSE(PathExists(tree.System(schedule))) << expected;
    EXPECT_TRUE(GetPackageDatabase().log.empty()) << expected;
  }
}
