#include "tools/vpk/archive_listing.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <ctime>

#include "streams/byte_order.h"
#include "streams/inflate_stream.h"
#include "tools/vpk/archive_writer.h"

// A mode as ls writes it: type letter and nine permission letters, with s, S, t and T.
std::string ModeText(std::uint32_t mode);

namespace {

constexpr std::size_t kLinkPreview = 1024;

// The fields of a record that the listing shows.
struct ListedEntry {
  std::uint32_t mode, owner, group, time, dataSize, nameLength;
  bool skip;
};

ListedEntry DecodeRecord(const char* record) {
  return ListedEntry{LoadLittleEndian(record + kFileModeOffset, 2),
                     LoadLittleEndian(record + kFileOwnerOffset, 2),
                     LoadLittleEndian(record + kFileGroupOffset, 2),
                     LoadLittleEndian(record + kFileTimeOffset, 4),
                     LoadLittleEndian(record + kFileDataSizeOffset, 4),
                     LoadLittleEndian(record + kFileNameLengthOffset, 2),
                     record[kFileSkipOffset] != 0};
}

// Reads size bytes of the archive into text, keeping at most keep of them; false when the
// archive ends first.
bool ReadData(std::istream& archive, std::uint32_t size, std::size_t keep, std::string* text) {
  text->assign(std::min<std::size_t>(size, keep), '\0');
  archive.read(text->data(), static_cast<std::streamsize>(text->size()));
  if (static_cast<std::size_t>(archive.gcount()) != text->size()) {
    return false;
  }
  std::uint32_t rest = size - static_cast<std::uint32_t>(text->size());
  if (rest > 0) {
    archive.seekg(rest, std::ios_base::cur);
  }
  return static_cast<bool>(archive);
}

// Reads the entry's data and says what the listing shows for it besides the name; false when the
// archive is damaged.
bool DescribeData(std::istream& archive, const ListedEntry& entry, std::string* size,
                  std::string* suffix) {
  std::string data;
  std::uint32_t type = entry.mode & S_IFMT;
  bool device = type == S_IFCHR || type == S_IFBLK;
  if (device && entry.dataSize != kDeviceNumberSize && !entry.skip) {
    *suffix = "  <- broken: a device entry needs 4 bytes of data";
    return false;
  }
  if (!ReadData(archive, entry.dataSize, device || type == S_IFLNK ? kLinkPreview : 0, &data)) {
    *suffix = "  <- the archive ends inside this entry's data";
    return false;
  }
  *size = std::to_string(entry.dataSize);
  if (device && data.size() == kDeviceNumberSize) {
    dev_t number = LoadLittleEndian(data.data(), kDeviceNumberSize);
    *size = std::to_string(major(number)) + "," + std::to_string(minor(number));
  } else if (type == S_IFLNK) {
    *suffix = " -> " + Printable(data) + (entry.dataSize > data.size() ? "..." : "");
  }
  if (entry.skip) {
    *suffix += "  (skipped by readers)";
  }
  return true;
}

}  // namespace

bool ListArchive(PartReader& reader, std::FILE* out) {
  InflateStream archive(reader, Framing::kZlib);
  std::uint64_t entries = 0, total = 0;
  for (;;) {
    char record[kFileRecordSize];
    archive.read(record, sizeof record);
    if (archive.gcount() == 0) {
      break;
    }
    if (archive.gcount() != kFileRecordSize) {
      std::fprintf(out, "    <- the archive ends inside an entry's record (or is corrupt)\n");
      return false;
    }
    ListedEntry entry = DecodeRecord(record);
    std::string name(entry.nameLength, '\0');
    archive.read(name.data(), entry.nameLength);
    if (static_cast<std::size_t>(archive.gcount()) != entry.nameLength) {
      std::fprintf(out, "    <- the archive ends inside an entry's name\n");
      return false;
    }
    std::string size, suffix;
    bool ok = DescribeData(archive, entry, &size, &suffix);
    std::fprintf(out, "    %s %5u/%-5u %10s %s %s%s\n", ModeText(entry.mode).c_str(), entry.owner,
                 entry.group, size.c_str(), TimeText(entry.time).c_str(), Printable(name).c_str(),
                 suffix.c_str());
    if (!ok) {
      return false;
    }
    ++entries;
    total += entry.dataSize;
  }
  std::fprintf(out, "    %llu entries, %llu bytes of data\n",
               static_cast<unsigned long long>(entries), static_cast<unsigned long long>(total));
  return true;
}

std::string Printable(const std::string& text) {
  static const char digits[] = "0123456789abcdef";
  std::string shown;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      shown += static_cast<char>(c);
    } else {
      shown += "\\x";
      shown += digits[c >> 4];
      shown += digits[c & 15];
    }
  }
  return shown;
}

std::string HexText(const std::uint8_t* bytes, int size) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (int i = 0; i < size; ++i) {
    hex += digits[bytes[i] >> 4];
    hex += digits[bytes[i] & 15];
  }
  return hex;
}

std::string ModeText(std::uint32_t mode) {
  static const struct {
    std::uint32_t type;
    char letter;
  } types[] = {{S_IFREG, '-'}, {S_IFDIR, 'd'}, {S_IFLNK, 'l'},
               {S_IFCHR, 'c'}, {S_IFBLK, 'b'}, {S_IFIFO, 'p'}};
  std::string text = "?rwxrwxrwx";
  for (const auto& type : types) {
    if ((mode & S_IFMT) == type.type) {
      text[0] = type.letter;
    }
  }
  for (int bit = 0; bit < 9; ++bit) {
    if ((mode & (1u << (8 - bit))) == 0) {
      text[1 + bit] = '-';
    }
  }
  const struct {
    std::uint32_t bit;
    int position;
    char set, unset;
  } specials[] = {{S_ISUID, 3, 's', 'S'}, {S_ISGID, 6, 's', 'S'}, {S_ISVTX, 9, 't', 'T'}};
  for (const auto& special : specials) {
    if ((mode & special.bit) != 0) {
      text[special.position] = text[special.position] == '-' ? special.unset : special.set;
    }
  }
  return text;
}

std::string TimeText(std::uint32_t seconds) {
  std::time_t time = seconds;
  std::tm parts;
  char text[32];
  if (gmtime_r(&time, &parts) == nullptr ||
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts) == 0) {
    return std::to_string(seconds);
  }
  return text;
}
