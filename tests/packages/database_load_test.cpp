#include "packages/database_load.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <memory>
#include <sstream>

#include "packages/database_lookup.h"
#include "packages/database_store.h"
#include "packages/package_database.h"
#include "streams/part_types.h"
#include "tests/support/package_builder.h"
#include "tests/support/package_tree.h"
#include "tests/support/stream_bytes.h"

namespace {

void DescribeList(std::ostream& out, const char* label, const std::vector<Dependency>& list,
                  bool withPriority) {
  out << " " << label << "=[";
  for (const Dependency& d : list) {
    out << (&d == &list.front() ? "" : ",") << d.name << " " << d.minVersion << " " << d.maxVersion;
    if (withPriority)
      out << " " << d.priority;
  }
  out << "]";
}

// Every field the database keeps, in one line.
std::string Describe(const Package& p) {
  std::ostringstream out;
  out << "v=" << p.version << " t=" << p.buildTime;
  DescribeList(out, "deps", p.dependencies, false);
  DescribeList(out, "provides", p.provides, true);
  DescribeList(out, "conflicts", p.conflicts, false);
  out << " bundle=" << p.bundle.name;
  if (p.bundle.minVersion != 0 || p.bundle.maxVersion != 0)
    out << " " << p.bundle.minVersion << " " << p.bundle.maxVersion;
  out << " files=[";
  for (const std::string& path : p.files)
    out << (path == *p.files.begin() ? "" : ",") << path;
  out << "]" << (p.noFileList ? " nofiles" : "") << (p.disabled ? " disabled" : "")
      << (p.userForced ? " forced" : "") << " action=" << p.scheduledAction;
  return out.str();
}

std::vector<std::string> Names() {
  std::vector<std::string> names;
  for (const auto& p : GetPackageDatabase().packages)
    names.push_back(p->name);
  return names;
}

// Writes content to path; "<fifo>" and "<dir>" make a FIFO or a directory instead.
void MakeEntry(const std::string& path, const std::string& content) {
  if (content == "<fifo>") {
    MakeTestDirectories(path.substr(0, path.rfind('/')));
    ASSERT_EQ(mkfifo(path.c_str(), 0644), 0) << path;
  } else if (content == "<dir>") {
    MakeTestDirectories(path);
  } else {
    WriteTreeFile(path, content);
  }
}

}  // namespace

TEST(DatabaseLoadTest, WrittenPackagesLoadBackUnchanged) {
  PackageTree tree;
  std::vector<std::unique_ptr<Package>> stored;
  struct State {
    const char* name;
    bool disabled;
    bool userForced;
    bool noFileList;
  } states[] = {
      {"alpha", false, false, false},
      {"beta", false, true, false},
      {"gamma", true, false, true},
      {"delta", true, true, false},
  };
  for (const State& s : states) {
    auto p = std::make_unique<Package>(s.name);
    p->version = MakeVersion(2, 4, 'b', 3);
    p->buildTime = 4000000000u;
    p->dependencies = {{"libc", MakeVersion(2, 0, 'f', 0), 0, 0}, {"kernel", 0, 1, 0}};
    p->provides = {{"dialer", 0, MakeVersion(9, 9, 'f', 9), -7}, {"modem", 1, 2, 3}};
    p->conflicts = {{"pppd", 5, 6, 0}};
    p->bundle.name = "net";  // the bundle's version lives in its image, not in "bundle"
    p->files = {"/etc/ppp/options", "/usr/sbin/ppp"};
    p->noFileList = s.noFileList;
    if (s.noFileList)
      p->files.clear();
    p->disabled = s.disabled;
    p->userForced = s.userForced;
    ASSERT_TRUE(StorePackage(*p)) << s.name;
    stored.push_back(std::move(p));
  }
  ASSERT_TRUE(LoadDatabase(true));
  EXPECT_TRUE(GetPackageDatabase().quiet);
  EXPECT_EQ(Names(), (std::vector<std::string>{"alpha", "beta", "delta", "gamma"}));
  for (const auto& p : stored) {
    Package* loaded = FindPackage(p->name);
    ASSERT_NE(loaded, nullptr) << p->name;
    EXPECT_EQ(Describe(*loaded), Describe(*p)) << p->name;
  }
}

// Damaged or partial entries load as far as they go; a damaged one is scheduled for removal.
TEST(DatabaseLoadTest, ReadsEachEntryAsFarAsItGoes) {
  const std::string empty = " deps=[] provides=[] conflicts=[] bundle=";
  struct Case {
    const char* what;
    std::map<std::string, std::string> files;
    std::string expected;
  } cases[] = {
      {"version only", {{"version", "1 2\n"}}, "v=1 t=2" + empty + " files=[] nofiles action=0"},
      {"auto-disabled",
       {{"version", "1 2"}, {"disabled", "auto\n"}},
       "v=1 t=2" + empty + " files=[] nofiles disabled action=0"},
      {"disabled by an empty line",
       {{"version", "1 2"}, {"disabled", "\n"}},
       "v=1 t=2" + empty + " files=[] nofiles disabled forced action=0"},
      {"disabled by another word",
       {{"version", "1 2"}, {"disabled", "automatic\n"}},
       "v=1 t=2" + empty + " files=[] nofiles disabled forced action=0"},
      {"disabled wins over enabled",
       {{"version", "1 2"}, {"disabled", "auto\n"}, {"enabled", "user\n"}},
       "v=1 t=2" + empty + " files=[] nofiles disabled action=0"},
      {"no version",
       {{"deps", "a 1 2\n"}},
       "v=0 t=0 deps=[a 1 2] provides=[] conflicts=[] bundle= files=[] nofiles action=1"},
      {"one number in version",
       {{"version", "12\n"}},
       "v=0 t=0" + empty + " files=[] nofiles action=1"},
      {"version over 32 bits",
       {{"version", "4294967296 1\n"}},
       "v=0 t=0" + empty + " files=[] nofiles action=1"},
      {"deps line cut short",
       {{"version", "1 2"}, {"deps", "a 1 2\nb 3\nc 4 5\n"}},
       "v=1 t=2 deps=[a 1 2] provides=[] conflicts=[] bundle= files=[] nofiles action=1"},
      {"provides without priority",
       {{"version", "1 2"}, {"provides", "x 0 0 -5\ny 0 0\n"}},
       "v=1 t=2 deps=[] provides=[x 0 0 -5] conflicts=[] bundle= files=[] nofiles action=1"},
      {"bundle member",
       {{"version", "1 2"}, {"bundle", "  kit\n"}},
       "v=1 t=2 deps=[] provides=[] conflicts=[] bundle=kit files=[] nofiles action=0"},
      {"same path with and without slash",
       {{"version", "1 2"}, {"files", "bin/x\n/bin/x\n\nusr/y"}},
       "v=1 t=2" + empty + " files=[/bin/x,/usr/y] action=0"},
      {"files list is a FIFO",
       {{"version", "1 2"}, {"files", "<fifo>"}},
       "v=1 t=2" + empty + " files=[] action=1"},
      {"deps is a directory",
       {{"version", "1 2"}, {"deps", "<dir>"}},
       "v=1 t=2" + empty + " files=[] nofiles action=1"},
  };
  for (const Case& c : cases) {
    PackageTree tree;
    for (const auto& [file, content] : c.files)
      MakeEntry(tree.Target("/var/pdb/p/") + file, content);
    ASSERT_TRUE(LoadDatabase(false));
    ASSERT_EQ(Names(), std::vector<std::string>{"p"}) << c.what;
    EXPECT_EQ(Describe(*FindPackage("p")), c.expected) << c.what;
    EXPECT_TRUE(GetPackageDatabase().log.empty()) << c.what;
  }
}

// A schedule request is carried out once: loading consumes its file.
TEST(DatabaseLoadTest, ScheduleWordsAreConsumedOnce) {
  struct Case {
    const char* word;
    std::uint32_t action;
    bool userForced;
  } cases[] = {
      {"uninstall\n", kScheduleUninstall, false},
      {"enable\n", kScheduleEnable, true},
      {" disable", kScheduleDisable, true},
      {"enabled\n", kScheduleNone, false},
      {"", kScheduleNone, false},
  };
  for (const Case& c : cases) {
    PackageTree tree;
    WriteTreeFile(tree.Target("/var/pdb/p/version"), "1 2\n");
    WriteTreeFile(tree.Target("/var/pdb/p/disabled"), "auto\n");
    std::string schedule = tree.System("/ram/pdb/p/schedule");
    WriteTreeFile(schedule, c.word);
    ASSERT_TRUE(LoadDatabase(false));
    Package* p = FindPackage("p");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->scheduledAction, c.action) << c.word;
    EXPECT_EQ(p->userForced, c.userForced) << c.word;
    EXPECT_TRUE(p->disabled);
    EXPECT_FALSE(PathExists(schedule)) << c.word;
  }
}

TEST(DatabaseLoadTest, ListingLeavesScheduleRequests) {
  PackageTree tree;
  WriteTreeFile(tree.Target("/var/pdb/p/version"), "1 2\n");
  WriteTreeFile(tree.System("/ram/pdb/p/schedule"), "uninstall\n");
  ASSERT_TRUE(LoadDatabase(false, false));
  EXPECT_EQ(FindPackage("p")->scheduledAction, kScheduleUninstall);
  EXPECT_EQ(ReadTreeFile(tree.System("/ram/pdb/p/schedule")), "uninstall\n");
}

TEST(DatabaseLoadTest, MissingDatabaseWarnsAndLoadsNothing) {
  PackageTree tree;
  WriteTreeFile(tree.System("/rw/pckg/.images/system"), TestPackage("system", "6.1").Bytes());
  testing::internal::CaptureStdout();
  EXPECT_FALSE(LoadDatabase(false));
  EXPECT_NE(testing::internal::GetCapturedStdout().find("WARNING: could not open repo"),
            std::string::npos);
  EXPECT_EQ(GetPackageDatabase().log, std::vector<std::string>{"WARNING: could not open repo"});
  EXPECT_TRUE(Names().empty());
}

// Images come first: a bundle's members, then the bundle, then the image directory; the package
// directories then add their state, and metadata only where no image gave a version.
TEST(DatabaseLoadTest, ImagesBringTheirHeaders) {
  PackageTree tree;
  TemporaryDirectory members;
  TestPackage ppp("ppp", "2.4.7");
  ppp.Depends("libc>=2.0").File("/bin/ppp", "x");
  TestPackage pppoe("pppoe", "1.0");
  pppoe.Conflicts("rp");
  ASSERT_TRUE(ppp.Write(members / "ppp.vpk") && pppoe.Write(members / "pppoe.vpk"));
  MakeTestDirectories(tree.Target("/var/pdb/kit"));
  ASSERT_TRUE(WriteTestBundle(tree.Target("/var/pdb/kit/image"), "kit", "1.2",
                              {members / "ppp.vpk", members / "pppoe.vpk"}));
  WriteTreeFile(tree.Target("/var/pdb/kit/version"), "99 99\n");
  WriteTreeFile(tree.Target("/var/pdb/kit/disabled"), "auto\n");
  // A cut header adds nothing; the directory's metadata then stand for the package.
  WriteTreeFile(tree.Target("/var/pdb/cut/image"),
                ContainerBytes(PartBytes(PartHeader, std::string(20, 'c'))));
  WriteTreeFile(tree.Target("/var/pdb/cut/version"), "5 6\n");
  TestPackage system("system", "6.1");
  system.Provides("kernel", 1);
  WriteTreeFile(tree.System("/rw/pckg/.images/sys"), system.Bytes());
  WriteTreeFile(tree.System("/rw/pckg/.images/.hidden"), TestPackage("hidden", "1.0").Bytes());
  ASSERT_TRUE(LoadDatabase(false));
  EXPECT_EQ(Names(), (std::vector<std::string>{"ppp", "pppoe", "kit", "system", "cut"}));
  auto text = [](PackageVersion v) { return std::to_string(v); };
  PackageVersion kit = MakeVersion(1, 2, 'f', 0);
  std::string bundle = " bundle=kit " + text(kit) + " " + text(kit);
  EXPECT_EQ(Describe(*FindPackage("ppp")),
            "v=" + text(MakeVersion(2, 4, 'f', 7)) + " t=1700000000 deps=[libc " +
                text(MakeVersion(2, 0, 'f', 0)) + " 0] provides=[] conflicts=[]" + bundle +
                " files=[] action=0");
  EXPECT_EQ(Describe(*FindPackage("pppoe")), "v=" + text(MakeVersion(1, 0, 'f', 0)) +
                                                 " t=1700000000 deps=[] provides=[] "
                                                 "conflicts=[rp 0 0]" +
                                                 bundle + " files=[] action=0");
  EXPECT_EQ(Describe(*FindPackage("kit")), "v=" + text(kit) +
                                               " t=1700000000 deps=[] provides=[] conflicts=[] "
                                               "bundle= files=[] nofiles disabled action=0");
  EXPECT_EQ(Describe(*FindPackage("system")), "v=" + text(MakeVersion(6, 1, 'f', 0)) +
                                                  " t=1700000000 deps=[] provides=[kernel 0 0 1] "
                                                  "conflicts=[] bundle= files=[] action=0");
  EXPECT_EQ(Describe(*FindPackage("cut")),
            "v=5 t=6 deps=[] provides=[] conflicts=[] bundle= files=[] nofiles action=0");
}
