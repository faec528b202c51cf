#include "tools/install-server/event_log.h"

#include <ctime>

std::string JsonText(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += c < 0x80 ? char(c) : '?';
    }
  }
  return out + "\"";
}

std::string JsonNumber(double value) {
  char text[32];
  snprintf(text, sizeof text, "%.3f", value);
  return text;
}

std::string JsonNumber(unsigned long long value) {
  return std::to_string(value);
}

std::string JsonBool(bool value) {
  return value ? "true" : "false";
}

void WriteEvent(FILE* out, const char* event, const std::string& router,
                const std::vector<EventField>& fields) {
  if (out == nullptr) {
    return;
  }
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::string line = "{\"time\":" + JsonNumber(double(now.tv_sec) + now.tv_nsec / 1e9) +
                     ",\"event\":" + JsonText(event) + ",\"router\":" + JsonText(router);
  for (const auto& [name, value] : fields) {
    line += ",";
    line += JsonText(name) + ":" + value;
  }
  line += "}\n";
  // A monitor that went away loses its view; the routers are served on.
  (void)fputs(line.c_str(), out);
  (void)fflush(out);
}
