#pragma once

#include <chrono>
#include <cstdint>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "link/Host.h"

namespace tandra {

// A record of what passed between the program and the programmer, for whoever has to find out
// why a run on real hardware went wrong: every call to the USB driver that moves or asks for
// something, with its time, the facts of the start-up, and every status-log line, in order.
// Plain text, one event a line:
//
//   <microseconds since the start> <what> <fields>
//
//   fact KEY VALUE                    program, driver, device, serial, firmware, arguments, exit
//   count STATUS N                    the number of devices the driver lists
//   serial INDEX STATUS TEXT          a device's serial number, by its index
//   description INDEX STATUS TEXT     a device's description, by its index
//   open STATUS TEXT                  opening the device with that serial number
//   timeouts STATUS READ WRITE        the read and write time-outs set, in milliseconds
//   > COUNT WRITTEN STATUS HEX...     bytes sent to the programmer
//   < ASKED GOT STATUS HEX...         bytes received from it (GOT 0: a read that got none)
//   drain ASKED GOT STATUS HEX...     bytes received and thrown away, or taken by count as the
//                                     blocks behind headers read alone: no answer to a command
//   talking TEXT                      a line that would not fall quiet, given up on
//   reply GOT EXPECTED END            how a reply wait ended (complete, quiet, time-out, stopped,
//                                     lost), and the bytes it got of those the reply has
//   queue STATUS                      a queue-status call that failed (the others are not kept)
//   close STATUS                      the device let go
//   log TEXT                          a line of the status log
//   status TEXT, box KIND TEXT        what the operator was shown: the status line, a box,
//   question TEXT, answer yes|no      a question and its answer, the update file chosen,
//   update-file PATH|none             an operation's start, and every socket label with its look
//   operation TEXT, socket N LOOK TEXT
//   doctor TEXT                       a line the first-contact check printed
//
// STATUS is the driver's status number (0 is success); HEX is two digits a byte. Leave out the
// first column (cut -d' ' -f2-) to compare two runs.
class Trace {
 public:
  static constexpr std::string_view kFirstLine =
      "# tandra trace 2: microseconds, event, fields (see the README)";

  // While one of these lives, the bytes read are thrown away, and are written as such.
  class Draining {
   public:
    explicit Draining(Trace* trace) : trace_(trace) {
      if (trace_ != nullptr) trace_->draining_ = true;
    }
    ~Draining() {
      if (trace_ != nullptr) trace_->draining_ = false;
    }
    Draining(const Draining&) = delete;
    Draining& operator=(const Draining&) = delete;

   private:
    Trace* trace_;
  };

  // A trace written to `path` from now on; FileError when it cannot be made.
  static std::unique_ptr<Trace> create(const std::string& path);
  explicit Trace(std::ofstream file);

  void fact(std::string_view key, std::string_view value);
  // The facts every trace starts with: the program and its version, the run id it shares with
  // the record and the production log, when it started (local time, ISO 8601), and the system.
  void startFacts(std::string_view program);
  // What the operator was shown or answered: `what` is status, box, question, answer,
  // update-file, operation or socket; the text as it was shown, on one line.
  void shown(std::string_view what, std::string_view text);
  // A socket label's look (its word: plain, running, passed, failed, skipped) and words.
  void socketShown(int socket, std::string_view look, std::string_view words);
  void boxShown(BoxKind kind, std::string_view text);
  void questionAnswered(std::string_view text, bool yes);
  void updateFileChosen(const std::optional<std::string>& path);
  // Any other event: what, and its fields as they are to stand.
  void event(std::string_view what, std::string_view fields);
  void sent(const std::uint8_t* bytes, std::uint32_t count, std::uint32_t written,
            std::uint32_t status);
  void received(const std::uint8_t* bytes, std::uint32_t asked, std::uint32_t got,
                std::uint32_t status);
  void log(std::string_view line);
  void flush() { file_.flush(); }
  // Why the trace could not be written (the first failed write's message), or nothing: a trace
  // that lost events is an output that failed, as any other.
  const std::optional<std::string>& lost() const { return lost_; }

 private:
  void begin(std::string_view what);
  void hex(const std::uint8_t* bytes, std::uint32_t count);
  void end();

  std::ofstream file_;
  std::chrono::steady_clock::time_point start_;
  std::string line_;
  bool draining_ = false;
  std::optional<std::string> lost_;
};

}  // namespace tandra
