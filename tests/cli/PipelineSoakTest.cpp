// A short run of the pipeline soak in every test run; ./build.sh soak runs a long one.
#include <gtest/gtest.h>

#include "PipelineSoak.h"

namespace tandra::test {
namespace {

TEST(PipelineSoak, NoFalsePassNoSerialTwiceNoChipMissingFromTheLog) {
  PipelineSoak soak(20261209);
  soak.run(200);
  const PipelineSoak::Figures& f = soak.figures();
  EXPECT_TRUE(f.clean());
  for (const std::string& finding : soak.findings()) ADD_FAILURE() << finding;
  EXPECT_GT(f.passes, 100u) << "the soak must reach chips that pass";
  EXPECT_GT(f.chips, f.passes) << "and chips that do not";
}

}  // namespace
}  // namespace tandra::test
