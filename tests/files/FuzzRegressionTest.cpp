// Every input the fuzzers were seeded with (fuzz/corpus) or found a fault with (fuzz/regressions)
// goes through both loaders with the fuzzers' own checks: a fault once found stays found.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "LoaderCheck.h"

namespace tandra::test {
namespace {

namespace fs = std::filesystem;

TEST(FuzzRegression, EveryKeptInputLoadsWithoutAFinding) {
  int inputs = 0;
  for (const char* folder : {"corpus", "regressions"}) {
    for (const fs::directory_entry& entry :
         fs::directory_iterator(fs::path(TANDRA_FUZZ_FILES) / folder)) {
      if (!entry.is_regular_file() || entry.path().filename() == "README.md") continue;
      std::ifstream in(entry.path(), std::ios::binary);
      const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
      for (const fuzz::Loader loader : {fuzz::Loader::Text, fuzz::Loader::Binary}) {
        EXPECT_EQ(fuzz::checkLoad(loader, bytes.data(), bytes.size()), "")
            << entry.path() << (loader == fuzz::Loader::Text ? " (text)" : " (binary)");
      }
      ++inputs;
    }
  }
  EXPECT_GE(inputs, 11) << "the seeds are gone";
}

}  // namespace
}  // namespace tandra::test
