#include "production/LoggedNumbers.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "common/Words.h"
#include "production/SerialNumbers.h"

namespace tandra {

void LoggedNumbers::readOn() {
  std::error_code missing;
  const std::uintmax_t size = std::filesystem::file_size(path_, missing);
  if (missing) {
    if (std::filesystem::exists(path_, missing)) {
      throw LedgerError("the log " + path_ + " cannot be read: " + missing.message());
    }
    return;  // no log yet: no chip in it
  }
  if (size < offset_) *this = LoggedNumbers(path_);  // not the log read before: read it anew
  std::ifstream log(path_, std::ios::binary);
  if (!log) throw LedgerError("the log " + path_ + " cannot be read: " + std::strerror(errno));
  log.seekg(static_cast<std::streamoff>(offset_));
  std::string rest{std::istreambuf_iterator<char>(log), {}};
  // A last line still being written is read once it is whole.
  const std::size_t whole = rest.rfind('\n');
  if (whole == std::string::npos) return;
  std::size_t at = 0;
  while (at <= whole) {
    const std::size_t end = rest.find('\n', at);
    std::string line = rest.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) takeLine(line);
    at = end + 1;
  }
  offset_ += whole + 1;
}

void LoggedNumbers::takeLine(const std::string& line) {
  if (line.front() == '{') {
    takeJson(line);
  } else {
    takeCsv(line);
  }
}

void LoggedNumbers::takeJson(const std::string& line) {
  if (line.find("serial_number") == std::string::npos) return;
  const nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object()) return;
  const bool passed = parsed.value("result", "") == "passed";
  const auto serial = parsed.find("serial_number");
  if (serial == parsed.end()) return;
  // A line some other program wrote may hold anything there: only a number counts.
  if (serial->is_string()) takeNumber(serial->get<std::string>(), passed);
  if (serial->is_number_unsigned())
    takeNumber(std::to_string(serial->get<std::uint64_t>()), passed);
}

void LoggedNumbers::takeCsv(const std::string& line) {
  // The header names the columns; numbers and results hold no commas or quotes.
  std::vector<std::string> cells;
  std::string cell;
  bool quoted = false;
  for (const char c : line) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      cells.push_back(cell);
      cell.clear();
    } else {
      cell += c;
    }
  }
  cells.push_back(cell);
  if (columns_.empty() || cells == columns_) {
    columns_ = cells;
    return;
  }
  const auto column = [&](const char* name) -> std::string {
    for (std::size_t i = 0; i < columns_.size() && i < cells.size(); ++i) {
      if (columns_[i] == name) return cells[i];
    }
    return "";
  };
  takeNumber(column("serial_number"), column("result") == "passed");
}

void LoggedNumbers::takeNumber(const std::string& text, bool passed) {
  const UnsignedNumber number = parseUnsigned(text);
  if (!number) return;
  if (passed) passed_.insert(number.value);
  if (!highest_ || number.value > *highest_) highest_ = number.value;
}

}  // namespace tandra
