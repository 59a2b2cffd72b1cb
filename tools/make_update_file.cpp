// Writes a firmware update file that the virtual programmer takes, so that the update can be
// seen end to end:  tandra-make-update FILE [RECORDS]   (RECORDS 1 to 124, 40 by default)
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "sim/VirtualProgrammer.h"

namespace {

constexpr const char* kUsage =
    "usage: tandra-make-update FILE [RECORDS]\n"
    "Writes a firmware update file of RECORDS records (1 to 124, 40 by default) that the\n"
    "virtual programmer takes, so that an update can be tried end to end:\n"
    "  tandra-make-update update.bin && tandra-usb --virtual-firmware 1.10\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc < 2 || argc > 3) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  // A name that starts with '-' is an option mistyped far more often than a file wanted.
  if (argv[1][0] == '-') {
    std::fprintf(stderr,
                 "tandra-make-update: unknown option %s (a file name may not start with '-')\n%s",
                 argv[1], kUsage);
    return 2;
  }
  const int records = argc == 3 ? std::atoi(argv[2]) : 40;
  if (records < 1 || records > 124) {
    std::fprintf(stderr, "RECORDS must be 1 to 124 (an update file holds at most 9,215 bytes)\n");
    return 2;
  }
  const auto file = tandra::VirtualProgrammer::makeUpdateFile(records);
  std::ofstream out(argv[1], std::ios::binary);
  out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  std::printf("%s: %d records, %zu bytes, check value %02X%02X\n", argv[1], records, file.size(),
              file[14], file[15]);
  return 0;
}
