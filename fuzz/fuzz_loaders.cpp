// libFuzzer entry point for the image file loaders: arbitrary bytes go to the text loader
// (TANDRA_FUZZ_TEXT) or the binary loader (TANDRA_FUZZ_BINARY); a finding stops the run.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "LoaderCheck.h"

#if defined(TANDRA_FUZZ_TEXT) == defined(TANDRA_FUZZ_BINARY)
#error "define exactly one of TANDRA_FUZZ_TEXT and TANDRA_FUZZ_BINARY"
#endif

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
#if defined(TANDRA_FUZZ_BINARY)
  const auto loader = tandra::fuzz::Loader::Binary;
#else
  const auto loader = tandra::fuzz::Loader::Text;
#endif
  const std::string finding = tandra::fuzz::checkLoad(loader, data, size);
  if (!finding.empty()) {
    std::fprintf(stderr, "fuzz_loaders: %s\n", finding.c_str());
    std::abort();
  }
  return 0;
}
