#include "cli/Record.h"

#include <cctype>
#include <ctime>

#include "cli/Digest.h"
#include "common/HexText.h"
#include "common/ShownName.h"
#include "common/Version.h"
#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace tandra::cli::record {

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

nlohmann::json blank(const CliOptions& options, std::chrono::system_clock::time_point started) {
  nlohmann::json record = nlohmann::json::object();
  record["schema"] = kSchemaVersion;
  record["tool"] = "tandra-cli";
  record["version"] = kVersion;
  record["command"] = options.command.empty() ? nlohmann::json(nullptr) : nlohmann::json(options.command);
  record["arguments"] = options.arguments;
  record["started"] = isoTime(started);
  record["host"] = hostName();
  for (const char* key : {"device", "sockets", "pulse_width", "vpp", "input", "image", "output",
                          "programmer", "checksum", "programmers", "devices", "stopped_by",
                          "trace", "replay", "fill", "skipped", "sets", "error"}) {
    record[key] = nullptr;
  }
  record["operations"] = nlohmann::json::array();
  record["elapsed_ms"] = 0;
  record["exit_code"] = 0;
  return record;
}

nlohmann::json socket(const SocketResult& result) {
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

nlohmann::json operation(const OperationResult& result, int set) {
  nlohmann::json sockets = nlohmann::json::array();
  for (const SocketResult& each : result.sockets) sockets.push_back(socket(each));
  return {{"name", result.operation},
          {"set", set},
          {"stopped", result.stopped},
          {"elapsed_ms", result.elapsedMs},
          {"reached", result.reached},
          {"sockets", sockets}};
}

nlohmann::json image(std::string_view source, std::string_view bytes, std::uint16_t checksum) {
  return {{"source", source},
          {"size", bytes.size()},
          {"checksum", hexText(checksum, 4)},
          {"sha256", sha256Hex(bytes)},
          {"crc32", crc32Hex(bytes)}};
}

void putPath(nlohmann::json& object, const std::string& path) {
  object["path"] = path;
  if (isUtf8(path)) {
    object["path_bytes"] = nullptr;
    return;
  }
  std::string bytes;
  for (char c : path) bytes += hexByte(static_cast<std::uint8_t>(c));
  for (char& c : bytes) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  object["path_bytes"] = bytes;
}

std::string text(const nlohmann::json& record) {
  return record.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace tandra::cli::record
