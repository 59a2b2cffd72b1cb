#include "production/RunRecords.h"

#include <ctime>

#include "common/HexText.h"
#include "production/Digest.h"
#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace tandra {

namespace {

nlohmann::json nullable(const std::optional<std::uint8_t>& value) {
  return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

}  // namespace

const char* stateWord(SocketResult::State state) {
  switch (state) {
    case SocketResult::State::Passed:
      return "passed";
    case SocketResult::State::Failed:
      return "failed";
    case SocketResult::State::Skipped:
      return "skipped";
    case SocketResult::State::Stopped:
      break;
  }
  return "stopped";
}

std::string hostName() {
#if defined(_WIN32)
  const char* name = std::getenv("COMPUTERNAME");
  return name != nullptr ? name : "";
#else
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "";
  return name;
#endif
}

nlohmann::json socketJson(const SocketResult& result) {
  const std::optional<SocketFailure>& failure = result.failure;
  return {
      {"socket", result.socket},
      {"result", stateWord(result.state)},
      {"text", result.describe()},
      {"address", failure ? nlohmann::json(failure->address) : nullptr},
      {"expected", failure ? nullable(failure->expected) : nullptr},
      {"actual", failure ? nullable(failure->actual) : nullptr},
      {"image", result.image.empty() ? nlohmann::json(nullptr) : nlohmann::json(result.image)},
      // As text: a reader that takes JSON numbers as doubles would round a 64-bit one.
      {"serial_number", result.serialNumber ? nlohmann::json(std::to_string(*result.serialNumber))
                                            : nlohmann::json(nullptr)}};
}

nlohmann::json imageJson(std::string_view source, std::string_view bytes, std::uint16_t checksum) {
  return {{"source", source},
          {"size", bytes.size()},
          {"checksum", hexText(checksum, 4)},
          {"sha256", sha256Hex(bytes)},
          {"crc32", crc32Hex(bytes)}};
}

}  // namespace tandra
