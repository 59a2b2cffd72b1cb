#include "link/ReplayApi.h"

#include <algorithm>
#include <cstring>
#include <sstream>

#include "common/FileError.h"
#include "common/HexText.h"
#include "common/InputFile.h"

namespace tandra {

namespace {

std::vector<std::uint8_t> hexBytes(std::istringstream& fields) {
  std::vector<std::uint8_t> bytes;
  for (std::string pair; fields >> pair;) {
    if (pair.size() != 2 || hexDigitValue(pair[0]) < 0 || hexDigitValue(pair[1]) < 0) {
      throw FileError("'" + pair + "' is not a byte of a trace");
    }
    bytes.push_back(
        static_cast<std::uint8_t>(hexDigitValue(pair[0]) * 16 + hexDigitValue(pair[1])));
  }
  return bytes;
}

// The rest of a line after the fields read so far, without the space before it.
std::string restOf(std::istringstream& fields) {
  std::string rest;
  std::getline(fields, rest);
  if (!rest.empty() && rest.front() == ' ') rest.erase(0, 1);
  return rest;
}

void copyText(const std::string& text, void* destination) {
  const std::size_t length = std::min<std::size_t>(text.size(), ft::ListStringCapacity - 1);
  std::memcpy(destination, text.data(), length);
  static_cast<char*>(destination)[length] = '\0';
}

}  // namespace

std::string ReplayApi::Difference::describe() const {
  std::string text = "command " + std::to_string(command) + " differs from the trace";
  if (!expected && !sent) return text;
  text += " at byte " + std::to_string(byteOffset) + ": expected ";
  text += expected ? "0x" + hexByte(*expected) : std::string("no more bytes");
  text += ", sent ";
  text += sent ? "0x" + hexByte(*sent) : std::string("no more bytes");
  if (!replyBefore.empty()) {
    text += "; the reply to command " + std::to_string(replyTo) + " was received as";
    for (std::size_t i = 0; i < std::min<std::size_t>(replyBefore.size(), 8); ++i) {
      text += " " + hexByte(replyBefore[i]);
    }
    if (replyBefore.size() > 8) text += " ...";
  }
  return text;
}

ReplayApi ReplayApi::load(const std::string& path) {
  return aboutFile(path, [&] {
    InputFile file(path);
    InputFileBuffer buffer(file);
    std::istream in(&buffer);
    ReplayApi replay;
    std::string line;
    long number = 0;
    bool sawHeader = false;
    int version = 1;
    while (std::getline(in, line)) {
      ++number;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty()) continue;
      if (line.front() == '#') {
        if (line.starts_with("# tandra trace ")) {
          sawHeader = true;
          version = line.size() > 15 && line[15] >= '2' && line[15] <= '9' ? line[15] - '0' : 1;
        }
        continue;
      }
      std::istringstream fields(line);
      std::string time;
      std::string what;
      fields >> time >> what;
      std::vector<Incoming>& incoming =
          replay.commands_.empty() ? replay.beforeAnyCommand_ : replay.commands_.back().after;
      FtStatus status = ft::Ok;
      try {
        if (what == "fact") {
          std::string key;
          fields >> key;
          replay.facts_.emplace_back(key, restOf(fields));
        } else if (what == "count") {
          std::uint32_t count = 0;
          fields >> status >> count;
          if (status == ft::Ok) replay.count_ = count;
        } else if (what == "serial" || what == "description") {
          std::uintptr_t index = 0;
          fields >> index >> status;
          if (status == ft::Ok) {
            (what == "serial" ? replay.serials_ : replay.descriptions_)[index] = restOf(fields);
          }
        } else if (what == "open") {
          fields >> status;
          replay.opens_.push_back(status);
        } else if (what == ">") {
          Command command;
          std::uint32_t count = 0;
          fields >> count >> command.written >> command.status;
          command.bytes = hexBytes(fields);
          replay.commands_.push_back(std::move(command));
        } else if (what == "<" || what == "drain") {
          // Bytes thrown away came from the programmer all the same.
          std::uint32_t count = 0;
          Incoming arrived;
          if (version >= 2) fields >> count;  // the count asked for
          fields >> count >> arrived.status;
          arrived.bytes = hexBytes(fields);
          if (!arrived.bytes.empty() || arrived.status != ft::Ok) incoming.push_back(arrived);
        } else if (what == "operation") {
          replay.tracedLooks_.emplace_back();
        } else if (what == "socket") {
          int socket = 0;
          std::string look;
          fields >> socket >> look;
          if (!replay.tracedLooks_.empty()) {
            replay.tracedLooks_.back()[socket] = look;
          }
          fields.clear();
        } else if (what == "reply") {
          std::uint32_t got = 0, expected = 0;
          std::string end;
          fields >> got >> expected >> end;
          // (The identify reply's quiet end is how every connection learns its replies' length.)
          replay.endedOnTime_ = replay.endedOnTime_ || end == "time-out";
        } else if (what == "log") {
          const std::string text = restOf(fields);
          replay.endedOnTime_ = replay.endedOnTime_ ||
                                text.find("out of step") != std::string::npos ||
                                text.find("came incomplete") != std::string::npos;
        } else if (what == "queue") {
          Incoming failed;
          fields >> failed.status;
          incoming.push_back(failed);
        }
        if (fields.fail() && !fields.eof()) throw FileError("a field that is no number");
      } catch (const FileError& error) {
        throw FileError(std::string(error.what()) + " on line " + std::to_string(number), number);
      }
    }
    if (!sawHeader) throw FileError("This is not a trace of this program");
    replay.pending_.assign(replay.beforeAnyCommand_.begin(), replay.beforeAnyCommand_.end());
    return replay;
  });
}

std::vector<std::string> ReplayApi::facts(const std::string& key) const {
  std::vector<std::string> values;
  for (const auto& [name, value] : facts_) {
    if (name == key) values.push_back(value);
  }
  return values;
}

std::size_t ReplayApi::commandsLeft() const {
  return commands_.size() - std::min(nextCommand_, commands_.size());
}

std::string ReplayApi::driverName() const {
  const std::vector<std::string> drivers = facts("driver");
  return "replay of " + (drivers.empty() ? std::string("a trace") : drivers.front());
}

FtStatus ReplayApi::ListDevices(void* arg1, void* arg2, std::uint32_t flags) {
  if ((flags & ft::ListNumberOnly) != 0) {
    if (arg1 == nullptr) return ft::InvalidParameter;
    *static_cast<std::uint32_t*>(arg1) = count_.value_or(0);
    return ft::Ok;
  }
  const auto& texts = (flags & ft::OpenByDescription) != 0 ? descriptions_ : serials_;
  const auto it = texts.find(reinterpret_cast<std::uintptr_t>(arg1));
  if (arg2 == nullptr) return ft::InvalidParameter;
  if (it == texts.end()) return ft::DeviceNotFound;
  copyText(it->second, arg2);
  return ft::Ok;
}

FtStatus ReplayApi::OpenEx(void*, std::uint32_t, FtHandle* handle) {
  if (handle == nullptr) return ft::InvalidParameter;
  if (opens_.empty()) return ft::DeviceNotFound;
  const FtStatus status = opens_.front();
  opens_.pop_front();
  open_ = status == ft::Ok;
  *handle = open_ ? this->handle() : nullptr;
  return status;
}

FtStatus ReplayApi::SetTimeouts(FtHandle, std::uint32_t, std::uint32_t) {
  return open_ ? ft::Ok : ft::InvalidHandle;
}

FtStatus ReplayApi::GetQueueStatus(FtHandle, std::uint32_t* rxBytes) {
  if (!open_ || difference_) return ft::IoError;
  if (rxBytes == nullptr) return ft::InvalidParameter;
  // The reply to a command is on its way at the first look after it, and there at the next:
  // no programmer answers in the moment between a write and that look.
  struct Arrive {
    ReplayApi& replay;
    ~Arrive() { replay.arrived(); }
  } arrive{*this};
  // A failure the trace met here comes once every byte before it has been read.
  if (!pending_.empty() && pending_.front().bytes.empty() && pending_.front().status != ft::Ok) {
    const FtStatus failed = pending_.front().status;
    pending_.pop_front();
    return failed;
  }
  std::size_t queued = 0;
  for (const Incoming& incoming : pending_) {
    if (incoming.status != ft::Ok) break;
    queued += incoming.bytes.size();
  }
  *rxBytes = static_cast<std::uint32_t>(queued);
  return ft::Ok;
}

void ReplayApi::arrived() {
  pending_.insert(pending_.end(), arriving_.begin(), arriving_.end());
  arriving_.clear();
}

void ReplayApi::arrive(const std::vector<Incoming>& incoming) {
  arriving_.insert(arriving_.end(), incoming.begin(), incoming.end());
}

FtStatus ReplayApi::Write(FtHandle, const void* buffer, std::uint32_t count,
                          std::uint32_t* written) {
  if (written != nullptr) *written = 0;
  if (!open_ || difference_) return ft::IoError;
  if (buffer == nullptr || written == nullptr) return ft::InvalidParameter;
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  const std::size_t number = nextCommand_ + 1;
  if (nextCommand_ >= commands_.size()) {
    const auto [to, reply] = replyBehind();
    difference_ = Difference{
        number, 0, std::nullopt, count > 0 ? std::optional(bytes[0]) : std::nullopt, reply, to};
    return ft::IoError;
  }
  const Command& expected = commands_[nextCommand_];
  const std::size_t common = std::min<std::size_t>(count, expected.bytes.size());
  const auto mismatch = std::mismatch(bytes, bytes + common, expected.bytes.begin());
  const auto at = static_cast<std::size_t>(mismatch.first - bytes);
  if (at < common || count != expected.bytes.size()) {
    const auto [to, reply] = replyBehind();
    Difference difference{number, at, {}, {}, reply, to};
    if (at < expected.bytes.size()) difference.expected = expected.bytes[at];
    if (at < count) difference.sent = bytes[at];
    difference_ = difference;
    return ft::IoError;
  }
  ++nextCommand_;
  readSinceWrite_ = false;
  arrive(expected.after);
  *written = expected.written;
  return expected.status;
}

FtStatus ReplayApi::Read(FtHandle, void* buffer, std::uint32_t count, std::uint32_t* received) {
  if (received != nullptr) *received = 0;
  if (!open_ || difference_) return ft::IoError;
  if (buffer == nullptr || received == nullptr) return ft::InvalidParameter;
  arrived();  // a read waits for what comes
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::uint32_t got = 0;
  while (got < count && !pending_.empty()) {
    Incoming& front = pending_.front();
    if (front.bytes.empty()) {
      if (front.status == ft::Ok) {
        pending_.pop_front();
        continue;
      }
      // The trace's read failed here: so does this one, with what came before it.
      if (got == 0) {
        const FtStatus failed = front.status;
        pending_.pop_front();
        return failed;
      }
      break;
    }
    const std::size_t take = std::min<std::size_t>(count - got, front.bytes.size());
    std::copy_n(front.bytes.begin(), take, out + got);
    if (!readSinceWrite_) received_.emplace_back(nextCommand_, std::vector<std::uint8_t>{});
    readSinceWrite_ = true;
    std::vector<std::uint8_t>& reply = received_.back().second;
    reply.insert(reply.end(), front.bytes.begin(),
                 front.bytes.begin() + static_cast<std::ptrdiff_t>(take));
    front.bytes.erase(front.bytes.begin(), front.bytes.begin() + static_cast<std::ptrdiff_t>(take));
    got += static_cast<std::uint32_t>(take);
    if (front.bytes.empty() && front.status == ft::Ok) pending_.pop_front();
  }
  *received = got;
  return ft::Ok;
}

std::pair<std::size_t, std::vector<std::uint8_t>> ReplayApi::replyBehind() const {
  constexpr std::size_t kLookBack = 16;  // a round of pages or blocks to every socket, and more
  for (std::size_t i = 0; i < std::min(received_.size(), kLookBack); ++i) {
    const auto& [command, reply] = received_[received_.size() - 1 - i];
    if (reply.size() > 6 && reply[6] != 0x00) return {command, reply};
  }
  if (received_.empty()) return {};
  return received_.back();
}

FtStatus ReplayApi::Close(FtHandle) {
  if (!open_) return ft::InvalidHandle;
  open_ = false;
  return ft::Ok;
}

}  // namespace tandra
