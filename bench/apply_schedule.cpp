// Time of ApplySchedule on an installed database of 500, 1,000 and 2,000 packages (chains and
// diamonds of dependencies, provides, conflicts, some disabled packages) after 100 scheduled
// actions, under a temporary target root (in /dev/shm when it exists) holding each package's
// database directory. Prints the best of several rounds per size, the part of it spent planning
// (PlanSchedule alone, on a fresh copy of the same database), and how both grow with the size.
//
// usage: bench_apply_schedule [ROUNDS [SIZE...]]   (default 5 rounds of 500, 1000 and 2000
// packages; a size is more than the 100 scheduled actions)
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "packages/database_lookup.h"
#include "packages/package_database.h"
#include "packages/roots.h"
#include "packages/schedule_apply.h"
#include "packages/schedule_plan.h"

namespace {

constexpr int kBlockSize = 10;
constexpr int kScheduled = 100;
const PackageVersion kVersion = MakeVersion(1, 0, 'f', 0);

std::string Name(int block, int slot) {
  return "p" + std::to_string(block) + "_" + std::to_string(slot);
}

Dependency On(const std::string& name) {
  return Dependency{name, kVersion, 0, 0};
}

// One block of ten: a chain, a diamond on it, a user of another block's service, a link to the
// previous block's chain (so that chains run through the whole database), and a disabled
// alternative that conflicts with an enabled package.
void AddBlock(int block, int blocks) {
  for (int slot = 0; slot < kBlockSize; ++slot) {
    auto p = std::make_unique<Package>(Name(block, slot));
    p->version = kVersion;
    switch (slot) {
      case 0:
        p->provides.push_back({"svc" + std::to_string(block % 20), 0, 0, 0});
        break;
      case 1:
      case 3:
      case 4:
        p->dependencies.push_back(On(Name(block, slot == 1 ? 0 : 1)));
        break;
      case 2:
        p->dependencies.push_back(On(Name(block, 1)));
        if (block > 0) {
          p->dependencies.push_back(On(Name(block - 1, 2)));
        }
        break;
      case 5:
        p->dependencies = {On(Name(block, 3)), On(Name(block, 4))};
        break;
      case 6:
        p->dependencies.push_back(
            {"svc" + std::to_string((block + 1) % std::min(blocks, 20)), 0, 0, 0});
        break;
      case 7:
        p->dependencies.push_back(On("system"));
        break;
      case 8:
        p->disabled = true;
        p->conflicts.push_back(On(Name(block, 9)));
        break;
      default:
        break;
    }
    AddPackage(std::move(p));
  }
}

bool MakeDirectory(const std::string& path) {
  return mkdir(path.c_str(), 0770) == 0;
}

// The database of about count packages, each with its directory under the target root, and
// kScheduled actions spread over it.
bool BuildDatabase(int count, const std::string& root) {
  DeleteAllPackages();
  auto system = std::make_unique<Package>("system");
  system->version = kVersion;
  AddPackage(std::move(system));
  int blocks = count / kBlockSize;
  for (int block = 0; block < blocks; ++block) {
    AddBlock(block, blocks);
  }
  for (const auto& p : GetPackageDatabase().Records()) {
    if (!MakeDirectory(root + "/var/pdb/" + p->name)) {
      return false;
    }
  }
  std::mt19937 random(5);
  auto packages = GetPackageDatabase().Records();
  for (int scheduled = 0; scheduled < kScheduled;) {
    Package& p = *packages[1 + random() % (packages.size() - 1)];
    if (p.scheduledAction != 0) {
      continue;
    }
    p.scheduledAction = p.disabled ? 2 : 1 + 2 * (scheduled % 2);
    ++scheduled;
  }
  return true;
}

int RemoveEntry(const char* path, const struct stat*, int, FTW*) {
  return remove(path);
}

struct Outcome {
  double milliseconds;
  std::size_t uninstalled, disabled;
};

// Builds the database afresh and times ApplySchedule on it, or PlanSchedule alone with planOnly.
Outcome TimeOnce(int count, const std::string& root, bool planOnly) {
  if (nftw((root + "/var").c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS) != 0 &&
      errno != ENOENT) {
    std::exit(1);
  }
  if (!MakeDirectory(root + "/var") || !MakeDirectory(root + "/var/pdb") ||
      !BuildDatabase(count, root)) {
    std::perror("bench_apply_schedule: setup");
    std::exit(1);
  }
  std::size_t before = GetPackageDatabase().Records().size();
  auto start = std::chrono::steady_clock::now();
  if (planOnly) {
    std::vector<Package*> removals, enables;
    PlanSchedule(removals, enables, Verbosity::kSilent);
  } else {
    ApplySchedule(Verbosity::kSilent);
  }
  std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
  std::size_t disabled = 0;
  for (const auto& p : GetPackageDatabase().Records()) {
    disabled += p->disabled;
  }
  return {elapsed.count(), before - GetPackageDatabase().Records().size(), disabled};
}

// Best of rounds.
Outcome Best(int count, const std::string& root, bool planOnly, int rounds) {
  Outcome best{1e30, 0, 0};
  for (int round = 0; round < rounds; ++round) {
    Outcome outcome = TimeOnce(count, root, planOnly);
    if (outcome.milliseconds < best.milliseconds) {
      best = outcome;
    }
  }
  return best;
}

double Growth(double ms, double firstMs, int count, int firstCount) {
  return std::log(ms / firstMs) / std::log(double(count) / firstCount);
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
  std::vector<int> sizes = {500, 1000, 2000};
  if (argc > 2) {
    sizes.clear();
    for (int i = 2; i < argc; ++i) {
      sizes.push_back(std::atoi(argv[i]));
    }
  }
  bool usable = rounds >= 1;
  for (int count : sizes) {
    usable = usable && count > kScheduled + kBlockSize;
  }
  if (!usable) {
    std::fprintf(stderr, "usage: bench_apply_schedule [ROUNDS [SIZE...]]\n");
    return 1;
  }
  char pattern[] = "/dev/shm/vela-bench-XXXXXX";
  char fallback[] = "/tmp/vela-bench-XXXXXX";
  const char* made = access("/dev/shm", W_OK) == 0 ? mkdtemp(pattern) : mkdtemp(fallback);
  if (made == nullptr) {
    std::perror("bench_apply_schedule: mkdtemp");
    return 1;
  }
  std::string root = made;
  GetPackageRoots().target = root;
  GetPackageDatabase().quiet = true;
  std::printf("root %s, best of %d rounds\n", root.c_str(), rounds);
  Outcome first{};
  Outcome firstPlan{};
  for (int count : sizes) {
    Outcome apply = Best(count, root, false, rounds);
    Outcome plan = Best(count, root, true, rounds);
    std::printf(
        "%5d packages, %d actions: apply %8.2f ms, of it planning %8.2f ms"
        "  (uninstalled %zu, disabled afterwards %zu)",
        count, kScheduled, apply.milliseconds, plan.milliseconds, apply.uninstalled,
        apply.disabled);
    if (count == sizes[0]) {
      first = apply;
      firstPlan = plan;
      std::printf("\n");
    } else {
      std::printf("\n      x%.2f and x%.2f of %d: apply grows as n^%.2f, planning as n^%.2f\n",
                  apply.milliseconds / first.milliseconds,
                  plan.milliseconds / firstPlan.milliseconds, sizes[0],
                  Growth(apply.milliseconds, first.milliseconds, count, sizes[0]),
                  Growth(plan.milliseconds, firstPlan.milliseconds, count, sizes[0]));
    }
  }
  DeleteAllPackages();
  nftw(root.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  return 0;
}
