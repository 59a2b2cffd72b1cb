#pragma once

#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "cli/Cli.h"
#include "device/Operations.h"
#include "production/RunRecords.h"
#include "production/SerialLedger.h"

namespace tandra::cli::record {

// The JSON record of a job has the same keys whatever the job did or met: what was not reached
// is null, lists that were not made are null, and "schema" counts changes to this shape.
inline constexpr int kSchemaVersion = 3;

// A record with every key: what the command line says, when and where the job started, and null
// for everything still to come.
nlohmann::json blank(const CliOptions& options, std::chrono::system_clock::time_point started);
// One socket's result: what became of it, where it first failed, its image and serial number.
nlohmann::json socket(const SocketResult& result);
// One operation of a set (1 for a job of one set): its name, whether it was stopped, its time,
// how far it got, every socket.
nlohmann::json operation(const OperationResult& result, int set);
// An image as the job holds it: where it came from, its size and its digests.
nlohmann::json image(std::string_view source, std::string_view bytes, std::uint16_t checksum);
// A file's "path" and "path_bytes": the name as given, and where it is not UTF-8 (which the
// record's text replaces, so that "path" no longer names the file) its exact bytes in
// hexadecimal, null otherwise.
void putPath(nlohmann::json& object, const std::string& path);
// A serial number ledger at `path`: its numbers (as text), step, format and width, the numbers
// to be given again and how many were reserved.
nlohmann::json ledger(const std::string& path, const LedgerState& state);
// The record as text: bytes that are not UTF-8 (a file name, a mistyped word) are replaced, so
// that the document is always one a reader can parse.
std::string text(const nlohmann::json& record);

}  // namespace tandra::cli::record
