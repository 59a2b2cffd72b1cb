#pragma once

#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "common/TimeText.h"
#include "device/Operations.h"

namespace tandra {

// The pieces every record of a run shares, whichever program writes it: a socket's result, an
// image's figures, the time and the computer.

// "passed", "failed", "stopped", "skipped".
const char* stateWord(SocketResult::State state);
// One socket's result: what became of it, where it first failed, its image and serial number
// (as text).
nlohmann::json socketJson(const SocketResult& result);
// An image: where it came from, its size, its 16-bit checksum and its digests.
nlohmann::json imageJson(std::string_view source, std::string_view bytes, std::uint16_t checksum);
std::string hostName();

}  // namespace tandra
