// install-load: many routers' side of the network installation at once, to test and load
// install-server. Installs nothing; keeps or drops the files it receives.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "net/hardware_address.h"
#include "platform/platform.h"
#include "tools/install-load/load_client.h"

namespace {

const char usageText[] =
    "usage: install-load --interface NAME [--address HH:HH:HH:HH:HH:HH] [--clients N]\n"
    "                    [--release TEXT] [--label TEXT] [--output DIR] [--give-up SECONDS]\n"
    "\n"
    "Runs N virtual routers (addresses counting up from --address, default 02:00:00:00:00:01)\n"
    "against the install-server on the interface's segment, each as the installer would: the\n"
    "driver conversation when --release is given, then the installation to its TERM. Files go\n"
    "to DIR/ADDRESS/NAME (drivers to DIR/ADDRESS/driver/NAME), or are dropped without --output.\n"
    "Prints one line per router and a summary; exit status 0 when every router finished,\n"
    "1 when one did not, 2 for a wrong command line.\n";

bool ParseNumber(const char* text, int low, int high, int& out) {
  char* end = nullptr;
  long value = strtol(text, &end, 10);
  if (*text == 0 || *end != 0 || value < low || value > high) {
    fprintf(stderr, "install-load: cannot use '%s' as a number\n", text);
    return false;
  }
  out = int(value);
  return true;
}

bool ParseOption(const char* name, const char* value, LoadOptions& options) {
  if (strcmp(name, "--interface") == 0) {
    options.interface = value;
  } else if (strcmp(name, "--address") == 0) {
    if (!ParseHardwareAddress(value, options.firstAddress)) {
      fprintf(stderr, "install-load: cannot use '%s' as a hardware address\n", value);
      return false;
    }
  } else if (strcmp(name, "--clients") == 0) {
    return ParseNumber(value, 1, 10000, options.clients);
  } else if (strcmp(name, "--release") == 0) {
    options.release = value;
  } else if (strcmp(name, "--label") == 0) {
    options.label = value;
  } else if (strcmp(name, "--output") == 0) {
    options.output = value;
  } else if (strcmp(name, "--give-up") == 0) {
    return ParseNumber(value, 1, 86400, options.giveUpSeconds);
  } else {
    fprintf(stderr, "install-load: unknown option '%s'\n", name);
    return false;
  }
  return true;
}

void PrintResults(const std::vector<LoadResult>& results, double wall) {
  double slowest = 0;
  double sum = 0;
  uint64_t bytes = 0;
  for (const LoadResult& result : results) {
    printf("%s %s: %zu files, %llu bytes, %.3f s, driver '%s', offer '%s'%s, %u repeats refused\n",
           HardwareAddressText(result.address).c_str(),
           result.finished ? "finished" : result.failure.c_str(), result.files.size(),
           (unsigned long long)result.bytes, result.seconds, result.driverName.c_str(),
           result.offerLine.c_str(), result.keep ? " keep" : "", result.refusedRepeats);
    slowest = result.seconds > slowest ? result.seconds : slowest;
    sum += result.seconds;
    bytes += result.bytes;
  }
  double mean = sum / double(results.size());
  printf(
      "total: %zu routers, %llu bytes in %.3f s, %.1f MB/s; mean %.3f s, slowest %.3f s "
      "(%.2f x mean)\n",
      results.size(), (unsigned long long)bytes, wall, double(bytes) / wall / 1e6, mean, slowest,
      mean > 0 ? slowest / mean : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  LoadOptions options;
  for (int at = 1; at < argc; at += 2) {
    if (strcmp(argv[at], "--help") == 0) {
      fputs(usageText, stdout);
      return 0;
    }
    if (at + 1 >= argc || !ParseOption(argv[at], argv[at + 1], options)) {
      fputs(usageText, stderr);
      return 2;
    }
  }
  if (options.interface.empty()) {
    fputs(usageText, stderr);
    return 2;
  }
  std::vector<LoadResult> results;
  uint64_t start = MonotonicMicroseconds();
  if (!RunLoadClients(options, results)) {
    return 1;
  }
  PrintResults(results, double(MonotonicMicroseconds() - start) / 1e6);
  for (const LoadResult& result : results) {
    if (!result.finished) {
      return 1;
    }
  }
  return 0;
}
