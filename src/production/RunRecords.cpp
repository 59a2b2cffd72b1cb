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

std::string isoTime(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
  // strftime writes the offset as +0100; ISO 8601 with separators wants +01:00.
  const std::string_view iso(text);
  if (iso.size() < 5) return std::string(iso);
  return std::string(iso.substr(0, iso.size() - 2)) + ":" + std::string(iso.substr(iso.size() - 2));
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
  return {{"socket", result.socket},
          {"result", stateWord(result.state)},
          {"text", result.describe()},
          {"address", failure ? nlohmann::json(failure->address) : nullptr},
          {"expected", failure ? nullable(failure->expected) : nullptr},
          {"actual", failure ? nullable(failure->actual) : nullptr},
          {"image", result.image.empty() ? nlohmann::json(nullptr) : nlohmann::json(result.image)},
          {"serial_number",
           result.serialNumber ? nlohmann::json(*result.serialNumber) : nlohmann::json(nullptr)}};
}

nlohmann::json imageJson(std::string_view source, std::string_view bytes, std::uint16_t checksum) {
  return {{"source", source},
          {"size", bytes.size()},
          {"checksum", hexText(checksum, 4)},
          {"sha256", sha256Hex(bytes)},
          {"crc32", crc32Hex(bytes)}};
}

}  // namespace tandra
