#include "packages/reporter.h"

#include <cstdarg>
#include <cstdio>
#include <string_view>

#include "packages/reporter_internal.h"

namespace {

// Writes to standard output. A console that cannot be written to has nowhere to report that
// either, so short writes are ignored on purpose.
void Write(std::string_view bytes) {
  if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) {
    return;
  }
}

void Flush() {
  if (std::fflush(stdout) != 0) {
    return;  // see Write
  }
}

// Prints prefix and the formatted text (cut to kMaxMessageLength) as one line above the status
// line, and logs it.
void Emit(PackageDatabase& db, const char* prefix, const char* format, va_list arguments) {
  if (db.quiet) {
    return;
  }
  char text[kMaxMessageLength + 1];
  if (std::vsnprintf(text, sizeof text, format, arguments) < 0) {
    text[0] = '\0';
  }
  std::string message = std::string(prefix) + text;
  bool barShown = !db.statusLine.empty();
  if (barShown) {
    Write("\r" + std::string(79, ' ') + "\r");
    Flush();
  }
  Write(message + "\n");
  if (barShown) {
    Write(db.statusLine);
  }
  // Flushed also without a bar: a child process may end without running exit handlers.
  Flush();
  db.log.push_back(std::move(message));
}

}  // namespace

std::string ProgressLine(const std::string& label, std::uint64_t done, std::uint64_t total) {
  std::string text = label;
  if (text.size() >= kLongLabelLength) {
    // Keep both ends: a verified file's label starts with the action and ends with the file name.
    std::size_t tail = (kShortenedLabelLength - 3) / 2 + 1;
    std::size_t head = kShortenedLabelLength - 3 - tail;
    text = text.substr(0, head) + "..." + text.substr(text.size() - tail);
  }
  text += " [";
  std::uint64_t width = 76 - text.size();
  // A container header that understates the length must not push the bar past its end.
  std::uint64_t filled = width;
  if (total == 0) {
    filled = 0;
  } else if (done < total) {
    filled = std::uint64_t(static_cast<unsigned __int128>(done) * width / total);
  }
  return text + std::string(filled, '#') + std::string(width - filled, ' ') + "]";
}

std::string InstallingLabel(const Package& p) {
  std::string label = "installing ";
  if (p.disabled && p.bundle.name.empty()) {
    label += " (disabled) ";
  }
  return label + MemberDisplayName(p);
}

void ShowStatus(PackageDatabase& db, const std::string& text) {
  if (db.quiet || text == db.statusLine) {
    return;
  }
  std::size_t padding = db.statusLine.size() > text.size() ? db.statusLine.size() - text.size() : 0;
  Write("\033[?25l\r" + text + std::string(padding, ' ') + "\r\033[?25h");
  Flush();
  db.statusLine = text;
}

void ShowProgress(PackageDatabase& db, PartReader& reader, const std::string& label) {
  if (db.quiet) {
    return;
  }
  // Asked of the buffer, not through tellg, which would set the stream's fail state at the end of
  // a part.
  std::streamoff inside = reader.rdbuf()->pubseekoff(0, std::ios_base::cur, std::ios_base::in);
  std::uint64_t done = reader.PartOffset() + (inside > 0 ? std::uint64_t(inside) : 0);
  ShowStatus(db, ProgressLine(label, done, reader.TotalSize()));
}

void ShowInstallingProgress(PackageDatabase& db, const Package& p, PartReader& reader) {
  ShowProgress(db, reader, InstallingLabel(p));
}

void ReportInfo(PackageDatabase& db, const char* format, ...) {
  ShowStatus(db, "");
  va_list arguments;
  va_start(arguments, format);
  Emit(db, "", format, arguments);
  va_end(arguments);
}

void ReportWarning(PackageDatabase& db, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  Emit(db, "WARNING: ", format, arguments);
  va_end(arguments);
}

void ReportError(PackageDatabase& db, const char* format, ...) {
  ShowStatus(db, "");
  va_list arguments;
  va_start(arguments, format);
  Emit(db, "ERROR: ", format, arguments);
  va_end(arguments);
}
