#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "production/LogLine.h"

namespace tandra {

// A log that cannot be opened or written; the message says why, in the operator's words.
struct LogError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The production log's file: one line per chip, appended and never rewritten, so that a
// database following the file sees each line once it stands. Each line goes out in one write
// to a file opened for appending, so that two programs logging to one file never tear each
// other's lines.
class ProductionLog {
 public:
  // Opens `path` (created when missing) and checks that it can take lines, before any chip is
  // touched: a full disk, a file that may not be changed, a device that takes nothing and a
  // log that holds lines of the other form throw LogError. A last line an earlier run left cut
  // short is ended first, so that the next line stands on its own.
  // A CSV log that is new (or empty) begins with the line that names its columns; one that has
  // that line goes on with the columns it names.
  explicit ProductionLog(std::string path, LogFormat format = LogFormat::JsonLines);
  ~ProductionLog();
  ProductionLog(const ProductionLog&) = delete;
  ProductionLog& operator=(const ProductionLog&) = delete;

  // Appends `line` and a line end and hands it to the disk; false when it could not be
  // written whole or the disk did not take it (lastError says why): what went out of it is
  // then taken back where it can be, and a line cut short is ended before the next one.
  bool append(const std::string& line);

  const std::string& path() const { return path_; }
  LogFormat format() const { return format_; }
  // The columns of a CSV log's lines, as its first line names them.
  const std::vector<std::string>& columns() const { return columns_; }
  // The last line of the file was cut short when it was opened, and has been ended.
  bool endedCutLine() const { return endedCutLine_; }
  const std::string& lastError() const { return lastError_; }

 private:
  // Writes all of `bytes`; false (and lastError set) when that failed, with `*written` saying
  // how much went out.
  bool takeBack(std::size_t written);
  bool writeAll(const std::string& bytes, std::size_t* written);
  // Hands the file to the disk; false (and lastError set) when the disk did not take it.
  bool handToDisk();
  void checkRoom();
  // Refuses a file whose first line says it holds the other form; takes a CSV log's columns.
  void checkForm();
  void closeDescriptor();  // lets the file go, once
  bool isEmpty() const;

  std::string path_;
  LogFormat format_;
  std::vector<std::string> columns_;
  int descriptor_ = -1;
  bool endedCutLine_ = false;
  bool lineOpen_ = false;  // a failed write left part of a line in the file
  std::string lastError_;
};

}  // namespace tandra
