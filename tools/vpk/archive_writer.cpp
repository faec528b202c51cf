#include "tools/vpk/archive_writer.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "streams/byte_order.h"
#include "streams/deflate_stream.h"
#include "streams/package_format.h"

namespace {

constexpr std::size_t kCopyBlock = 16384;

// One directory of the tree being walked: its descriptor and how its entries are named.
struct Directory {
  int fd;
  std::string path;  // for messages: the tree path joined with the entry name
  std::string name;  // archive name of the directory ("" for the tree itself)
};

bool Refuse(const std::string& path, const char* what) {
  std::fprintf(stderr, "vpk: %s: %s\n", path.c_str(), what);
  return false;
}

bool SystemError(const char* action, const std::string& path) {
  std::fprintf(stderr, "vpk: cannot %s %s: %s\n", action, path.c_str(), std::strerror(errno));
  return false;
}

bool CheckWritten(const std::ostream& out, const std::string& path) {
  if (!out) {
    return Refuse(path, "writing the file archive failed");
  }
  return true;
}

// Reads the names in a directory, without "." and "..", in byte order.
bool ListDirectory(int fd, const std::string& path, std::vector<std::string>* names) {
  int copy = dup(fd);
  DIR* dir = copy < 0 ? nullptr : fdopendir(copy);
  if (dir == nullptr) {
    if (copy >= 0) {
      close(copy);
    }
    return SystemError("read directory", path);
  }
  errno = 0;
  while (dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names->push_back(entry->d_name);
    }
    errno = 0;
  }
  bool failed = errno != 0;
  if (failed) {
    SystemError("read directory", path);
  }
  closedir(dir);
  std::sort(names->begin(), names->end());
  return !failed;
}

// Copies exactly size bytes of the open file to out; a file that shrinks or grows meanwhile would
// make the record lie about its data and is refused.
bool CopyFileData(std::ostream& out, int fd, std::uint64_t size, const std::string& path) {
  std::vector<char> block(kCopyBlock);
  while (size > 0) {
    ssize_t n = read(fd, block.data(), std::min<std::uint64_t>(size, block.size()));
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      return SystemError("read", path);
    }
    if (n == 0) {
      return Refuse(path, "the file shrank while it was read");
    }
    out.write(block.data(), n);
    if (!CheckWritten(out, path)) {
      return false;
    }
    size -= static_cast<std::uint64_t>(n);
  }
  ssize_t extra;
  do {
    extra = read(fd, block.data(), 1);
  } while (extra < 0 && errno == EINTR);
  if (extra != 0) {
    return extra < 0 ? SystemError("read", path) : Refuse(path, "the file grew while it was read");
  }
  return true;
}

bool WriteRegularFile(std::ostream& out, const Directory& parent, const char* name,
                      const struct stat& seen, FileRecord& record, const std::string& path) {
  int fd = openat(parent.fd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    return SystemError("open", path);
  }
  struct stat opened;
  bool ok = fstat(fd, &opened) == 0 || SystemError("examine", path);
  if (ok && (opened.st_dev != seen.st_dev || opened.st_ino != seen.st_ino)) {
    ok = Refuse(path, "the file was replaced while the tree was read");
  }
  if (ok) {
    record.dataSize = static_cast<std::uint64_t>(opened.st_size);
    ok = WriteFileRecord(out, record) && CopyFileData(out, fd, record.dataSize, path);
  }
  close(fd);
  return ok;
}

bool WriteSymbolicLink(std::ostream& out, const Directory& parent, const char* name,
                       const struct stat& seen, FileRecord& record, const std::string& path) {
  // Some file systems report a size of 0 for links; one byte more than the buffer shows a cut.
  std::vector<char> target(std::max<std::size_t>(seen.st_size, 4096) + 1);
  ssize_t n = readlinkat(parent.fd, name, target.data(), target.size());
  if (n < 0) {
    return SystemError("read link", path);
  }
  if (static_cast<std::size_t>(n) == target.size()) {
    return Refuse(path, "the link changed while the tree was read");
  }
  record.dataSize = static_cast<std::uint64_t>(n);
  if (!WriteFileRecord(out, record)) {
    return false;
  }
  out.write(target.data(), n);
  return CheckWritten(out, path);
}

bool WriteDevice(std::ostream& out, const struct stat& seen, FileRecord& record,
                 const std::string& path) {
  // Readers hand the 4 bytes, zero-extended, to mknod as the device number.
  if (seen.st_rdev > UINT32_MAX) {
    return Refuse(path, "the device number does not fit in 4 bytes");
  }
  record.dataSize = kDeviceNumberSize;
  if (!WriteFileRecord(out, record)) {
    return false;
  }
  std::string number;
  AppendLittleEndian(number, seen.st_rdev, kDeviceNumberSize);
  out.write(number.data(), number.size());
  return CheckWritten(out, path);
}

bool WriteDirectoryContents(std::ostream& out, const Directory& directory,
                            const TreeOptions& options);

bool WriteSubdirectory(std::ostream& out, const Directory& parent, const char* name,
                       FileRecord& record, const std::string& path, const TreeOptions& options) {
  if (!WriteFileRecord(out, record)) {
    return false;
  }
  int fd = openat(parent.fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    return SystemError("open directory", path);
  }
  bool ok = WriteDirectoryContents(out, Directory{fd, path, record.name}, options);
  close(fd);
  return ok;
}

bool WriteEntry(std::ostream& out, const Directory& parent, const std::string& name,
                const TreeOptions& options) {
  std::string path = parent.path + "/" + name;
  struct stat seen;
  if (fstatat(parent.fd, name.c_str(), &seen, AT_SYMLINK_NOFOLLOW) != 0) {
    return SystemError("examine", path);
  }
  if (options.excludeFile && seen.st_dev == options.excludeDevice &&
      seen.st_ino == options.excludeInode) {
    return true;
  }
  FileRecord record;
  record.mode = seen.st_mode;
  record.owner = options.overrideOwner ? options.owner : seen.st_uid;
  record.group = options.overrideOwner ? options.group : seen.st_gid;
  record.modificationTime = seen.st_mtime;
  record.name = parent.name + "/" + name;
  switch (seen.st_mode & S_IFMT) {
    case S_IFREG:
      return WriteRegularFile(out, parent, name.c_str(), seen, record, path);
    case S_IFLNK:
      return WriteSymbolicLink(out, parent, name.c_str(), seen, record, path);
    case S_IFCHR:
    case S_IFBLK:
      return WriteDevice(out, seen, record, path);
    case S_IFDIR:
      return WriteSubdirectory(out, parent, name.c_str(), record, path, options);
    case S_IFIFO:
      return WriteFileRecord(out, record) && CheckWritten(out, path);
    default:
      return Refuse(path, "sockets and other special files cannot be stored in a package");
  }
}

bool WriteDirectoryContents(std::ostream& out, const Directory& directory,
                            const TreeOptions& options) {
  std::vector<std::string> names;
  if (!ListDirectory(directory.fd, directory.path, &names)) {
    return false;
  }
  for (const std::string& name : names) {
    if (!WriteEntry(out, directory, name, options)) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool WriteFileRecord(std::ostream& out, const FileRecord& entry) {
  const char* problem = nullptr;
  if (entry.mode > UINT16_MAX) {
    problem = "its mode does not fit in 16 bits";
  } else if (entry.owner > UINT16_MAX || entry.group > UINT16_MAX) {
    problem = "its owner or group id is over 65535 (--owner stores another)";
  } else if (entry.modificationTime < 0 || entry.modificationTime > INT64_C(0xffffffff)) {
    problem = "its modification time is before 1970 or after 2106";
  } else if (entry.dataSize > kLargestEntryData) {
    problem = "it is 4 GiB or larger";
  } else if (entry.name.size() > kLargestEntryName) {
    problem = "its name is longer than 65535 bytes";
  }
  if (problem != nullptr) {
    std::fprintf(stderr, "vpk: cannot store %.200s%s: %s\n", entry.name.c_str(),
                 entry.name.size() > 200 ? "..." : "", problem);
    return false;
  }
  std::string record(kFileRecordSize, '\0');
  StoreLittleEndian(&record[kFileModeOffset], entry.mode, 2);
  StoreLittleEndian(&record[kFileOwnerOffset], entry.owner, 2);
  StoreLittleEndian(&record[kFileGroupOffset], entry.group, 2);
  StoreLittleEndian(&record[kFileTimeOffset], static_cast<std::uint64_t>(entry.modificationTime),
                    4);
  record[kFileSkipOffset] = entry.skip ? 1 : 0;
  StoreLittleEndian(&record[kFileDataSizeOffset], entry.dataSize, 4);
  StoreLittleEndian(&record[kFileNameLengthOffset], entry.name.size(), 2);
  record += entry.name;
  out.write(record.data(), record.size());
  return true;
}

bool WriteTreeArchive(std::ostream& out, const std::string& tree, const TreeOptions& options) {
  int fd = open(tree.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    return SystemError("open directory", tree);
  }
  std::string path = tree;
  while (path.size() > 1 && path.back() == '/') {
    path.pop_back();
  }
  bool ok = WriteDirectoryContents(out, Directory{fd, path == "/" ? "" : path, ""}, options);
  close(fd);
  return ok;
}

bool WriteFilesPart(PartWriter& writer, const std::string& tree, const TreeOptions& options) {
  writer.BeginPart(PartFiles);
  DeflateStream archive(writer);
  if (!WriteTreeArchive(archive, tree, options)) {
    return false;
  }
  if (!archive.FinishDeflate() || !writer) {
    return Refuse(tree, "writing the file archive failed");
  }
  writer.EndPart();
  if (!writer) {
    return Refuse(tree, "the file archive is larger than 4 GiB");
  }
  return true;
}
