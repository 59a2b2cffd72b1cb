#pragma once

#include <string>

#include "cli/Cli.h"

namespace tandra::cli {

// The program's two outputs, every write checked: the record (result lines, or the JSON
// document) on standard output, notes, warnings and the progress line on standard error. When
// the job writes an image to standard output, its record goes to standard error instead.
class Console {
 public:
  Console(CliIo& io, bool quiet) : io_(io), quiet_(quiet) {}

  // The image goes to standard output: the record moves to standard error.
  void recordOnStandardError() { recordOnErr_ = true; }

  // A line (or the whole document) of the record, written and flushed at once.
  void record(const std::string& text);
  // A note on standard error: what the program chose or met; --quiet leaves it out.
  void note(const std::string& text);
  // On standard error whatever --quiet says: an error, or a warning about the data.
  void warn(const std::string& text);
  // The progress line, drawn over itself on a terminal.
  void progress(const std::string& text);

  // The reader of an output went away (a closed pipe): the job is to stop as on a signal.
  bool readerGone() const { return readerGone_; }
  // The same, met while writing an image there.
  void readerWentAway() { readerGone_ = true; }
  // Why the record could not be written; empty while it could.
  const std::string& recordLost() const { return recordLost_; }

 private:
  // After a write: the failure noted, if there was one.
  void check(std::ostream& stream, bool isRecord);

  CliIo& io_;
  bool quiet_;
  bool recordOnErr_ = false;
  bool readerGone_ = false;
  std::string recordLost_;
};

}  // namespace tandra::cli
