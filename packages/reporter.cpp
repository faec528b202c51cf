#include "packages/reporter.h"

#include <cstdarg>
#include <cstdio>
#include <string_view>

namespace {

// Writes to standard output. A console that cannot be written to has nowhere to report that
// either, so short writes are ignored on purpose.
void Write(std::string_view bytes) {
  if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size())
    return;
}

void Flush() {
  if (std::fflush(stdout) != 0)
    return;  // see Write
}

// Prints prefix and the formatted text (cut to kMaxMessageLength) as one line above the status
// line, and logs it.
void Emit(PackageDatabase& db, const char* prefix, const char* format, va_list arguments) {
  if (db.quiet)
    return;
  char text[kMaxMessageLength + 1];
  if (std::vsnprintf(text, sizeof text, format, arguments) < 0)
    text[0] = '\0';
  std::string message = std::string(prefix) + text;
  bool barShown = !db.statusLine.empty();
  if (barShown) {
    Write("\r" + std::string(79, ' ') + "\r");
    Flush();
  }
  Write(message + "\n");
  if (barShown)
    Write(db.statusLine);
  // Flushed also without a bar: a child process may end without running exit handlers.
  Flush();
  db.log.push_back(std::move(message));
}

}  // namespace

void ShowStatus(PackageDatabase& db, const std::string& text) {
  if (db.quiet || text == db.statusLine)
    return;
  std::size_t padding = db.statusLine.size() > text.size() ? db.statusLine.size() - text.size() : 0;
  Write("\033[?25l\r" + text + std::string(padding, ' ') + "\r\033[?25h");
  Flush();
  db.statusLine = text;
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
