#include "flows/package_sources.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string_view>

#include "packages/package_file.h"
#include "packages/package_order.h"
#include "packages/relations.h"

namespace {

constexpr std::string_view kPackageSuffix = ".vpk";
constexpr size_t kLongestDefaultName = 91;

bool IsPackageFileName(std::string_view name) {
  return name.size() >= kPackageSuffix.size() &&
         name.substr(name.size() - kPackageSuffix.size()) == kPackageSuffix;
}

// The package file names of directory, sorted, so that the first bad file is the same on every
// reading of a medium; false when the directory cannot be opened.
bool ListPackageFileNames(const std::string& directory, std::vector<std::string>& names) {
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) {
    return false;
  }
  while (const dirent* entry = readdir(dir)) {
    if (IsPackageFileName(entry->d_name)) {
      names.emplace_back(entry->d_name);
    }
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return true;
}

// By name; two files of one package name keep a fixed order through their paths, so the menu
// does not depend on the order of the directory.
void SortByName(PackageList& list) {
  std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) {
    return a->name != b->name ? a->name < b->name : a->path < b->path;
  });
}

// Moves the first package of that name to index, or to the end of a list too short for it.
void MoveToIndex(PackageList& list, std::string_view name, size_t index) {
  auto found = std::find_if(list.begin(), list.end(),
                            [&](const auto& p) { return NameEquals(p->name, name); });
  if (found == list.end()) {
    return;
  }
  std::unique_ptr<SelectablePackage> p = std::move(*found);
  list.erase(found);
  list.insert(list.begin() + static_cast<std::ptrdiff_t>(std::min(index, list.size())),
              std::move(p));
}

void MarkByName(const PackageList& list, std::string_view name) {
  for (const auto& p : list) {
    if (NameEquals(p->name, name)) {
      p->selected = true;
    }
  }
}

// Opens path for reading only when it is a regular file: a medium may carry anything under the
// name, and a pipe or device would block the installer or read without end.
int OpenRegularFile(const std::string& path) {
  int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    return -1;
  }
  struct stat status;
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(descriptor);
    return -1;
  }
  return descriptor;
}

bool IsWordSeparator(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Calls mark with every word of the file of at most kLongestDefaultName bytes. A longer word is
// no package name, and is skipped whole rather than taken apart into pieces that might be one.
template <typename Mark>
void ForEachShortWord(int descriptor, Mark mark) {
  std::string word;
  bool tooLong = false;
  auto endWord = [&] {
    if (!word.empty() && !tooLong) {
      mark(word);
    }
    word.clear();
    tooLong = false;
  };
  char block[4096];
  for (;;) {
    ssize_t count = read(descriptor, block, sizeof block);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      break;
    }
    for (ssize_t i = 0; i < count; ++i) {
      if (IsWordSeparator(block[i])) {
        endWord();
      } else if (word.size() < kLongestDefaultName) {
        word.push_back(block[i]);
      } else {
        tooLong = true;
      }
    }
  }
  endWord();
}

}  // namespace

bool ReadDefaultSelection(const PackageList& list, const std::string& path) {
  int descriptor = OpenRegularFile(path);
  if (descriptor < 0) {
    return false;
  }
  ForEachShortWord(descriptor, [&](const std::string& name) { MarkByName(list, name); });
  close(descriptor);
  MarkByName(list, "system");
  return true;
}

bool ReadPackageFiles(PackageList& list, const std::string& directory) {
  std::vector<std::string> names;
  if (!ListPackageFileNames(directory, names)) {
    puts("FATAL ERROR: No packages found");
    return false;
  }
  for (const std::string& name : names) {
    list.push_back(std::make_unique<SelectablePackage>());
    if (!OpenPackageFile(*list.back(), directory + "/" + name)) {
      printf("FATAL ERROR: Bad package %s\n", DisplayName(*list.back()).c_str());
      return false;
    }
  }
  if (list.empty()) {
    puts("FATAL ERROR: No packages found");
    return false;
  }
  SortByName(list);
  for (size_t k = 0; k < std::size(menuPriorityNames); ++k) {
    MoveToIndex(list, menuPriorityNames[k], k);
  }
  ReadDefaultSelection(list, directory + "/defpacks");
  return true;
}

void OrderSelectedPackages(const PackageList& list, std::vector<SelectablePackage*>& order) {
  std::vector<SelectablePackage*> selected;
  for (const auto& file : list) {
    if (file->selected) {
      selected.push_back(file.get());
    }
  }
  order = OrderPackageFiles(selected, {.downgrade = false, .announce = true});
}
