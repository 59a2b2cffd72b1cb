// Writes a firmware update file that the virtual programmer takes, so that the update can be
// seen end to end:  tandra-make-update FILE [RECORDS]   (RECORDS 1 to 124, 40 by default)
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "sim/VirtualProgrammer.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s FILE [RECORDS]\n", argv[0]);
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
