#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tandra {

// The serial numbers a production log holds, in JSON lines or CSV, read on as the log grows:
// a log is only ever appended to, so each look reads from where the last one stopped.
class LoggedNumbers {
 public:
  explicit LoggedNumbers(std::string path) : path_(std::move(path)) {}

  // Reads the whole lines added since the last look (all of them at the first); a log that is
  // not there yet holds none. Throws LedgerError when it is there but cannot be read.
  void readOn();

  const std::string& path() const { return path_; }
  // The numbers on chips that passed.
  const std::set<std::uint64_t>& passed() const { return passed_; }
  // The highest number any chip in the log holds, whatever came of it.
  const std::optional<std::uint64_t>& highest() const { return highest_; }

 private:
  void takeLine(const std::string& line);
  void takeJson(const std::string& line);
  void takeCsv(const std::string& line);
  void takeNumber(const std::string& text, bool passed);

  std::string path_;
  std::uint64_t offset_ = 0;
  std::vector<std::string> columns_;  // a CSV log's, as its header names them
  std::set<std::uint64_t> passed_;
  std::optional<std::uint64_t> highest_;
};

}  // namespace tandra
