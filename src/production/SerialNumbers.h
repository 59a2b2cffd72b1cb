#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "image/ImageBuffer.h"

namespace tandra {

// How a serial number is written into a chip's image.
enum class SerialFormat {
  LittleEndian,  // binary, lowest byte first
  BigEndian,     // binary, highest byte first
  Bcd,           // two decimal digits a byte, highest first
  Ascii,         // decimal digits as characters, with leading zeros
};
std::optional<SerialFormat> parseSerialFormat(std::string_view word);

// The `width` bytes that say `number`; nothing when it has more digits or bytes than that.
std::optional<std::vector<std::uint8_t>> serialBytes(std::uint64_t number, SerialFormat format,
                                                     int width);
// Writes `number` at `address` in `width` bytes; false (and nothing written) when it does not
// fit in that width or past the device's end.
bool writeSerialNumber(ImageBuffer& image, std::int32_t address, std::uint64_t number,
                       SerialFormat format, int width);

// A serial number ledger that cannot be read, trusted, made or written; the message says why.
struct LedgerError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Whether a number can be written as the chips' stamp has it.
using SerialFits = std::function<bool(std::uint64_t)>;

// The numbers for one set, or why there are none: all of them or none are taken.
struct SerialTake {
  enum class Fault { None, RunOut, TooLong };
  std::vector<std::uint64_t> numbers;
  Fault fault = Fault::None;
  // RunOut: the last number there is; TooLong: the first that does not fit.
  std::uint64_t number = 0;
  std::size_t at = 0;  // TooLong: its place in the set

  explicit operator bool() const { return fault == Fault::None; }
};

// Where serial numbers come from: a run's own count, or a ledger several runs share. A ledger
// throws LedgerError where it cannot be read, trusted or written.
class SerialSource {
 public:
  virtual ~SerialSource() = default;
  // `count` numbers for one set, each of which `fits`; nothing is taken when one does not, or
  // when they run out first.
  virtual SerialTake take(int count, const SerialFits& fits) = 0;
  // What take() would give now, taking nothing.
  virtual SerialTake peek(int count, const SerialFits& fits) const = 0;
  // A number whose chip did not pass and provably does not carry it (the stamp's page never
  // went to it): true when it is to be given again, false when it is spent.
  virtual bool failed(std::uint64_t number) = 0;
  // Numbers taken for a set that never ran: no chip has them, and they are given first again.
  virtual void giveBack(const std::vector<std::uint64_t>& numbers) = 0;
  // The numbers the next take(count) would give, as far as can be known now.
  virtual std::vector<std::uint64_t> upcoming(int count) const = 0;
};

// Counts numbers from `next` in steps of `step` for `count` of them, given-back ones first, each
// to pass `fits`: the numbers, and the count's state after them. Both number sources count so.
struct SerialCount {
  std::uint64_t next = 0;
  std::uint64_t step = 1;
  bool runOut = false;  // `next` was the last number there is, and has been given
  std::deque<std::uint64_t> returned;

  SerialTake take(int count, const SerialFits& fits);
  // The last number this count can give.
  std::uint64_t last() const;
};

// The serial numbers a run of several sets hands out: from a first one in steps of at least 1,
// each once. A number given to a chip that did not pass is spent, unless such numbers are to be
// used again and the chip does not carry it. The numbers never wrap: past the largest 64-bit
// number there are none.
class SerialNumbers final : public SerialSource {
 public:
  // Throws std::invalid_argument for a step of 0, which would give every chip one number.
  SerialNumbers(std::uint64_t first, std::uint64_t step, bool reuseFailed);

  std::optional<std::uint64_t> take();
  SerialTake take(int count, const SerialFits& fits) override;
  SerialTake peek(int count, const SerialFits& fits) const override;
  bool failed(std::uint64_t number) override;
  void giveBack(const std::vector<std::uint64_t>& numbers) override;
  std::vector<std::uint64_t> upcoming(int count) const override;
  // The first number this count has never given: where a later count starts so that it gives
  // none of this one's again (numbers waiting to be given again are left to this count).
  std::optional<std::uint64_t> firstNeverGiven() const;
  std::uint64_t step() const { return count_.step; }

 private:
  SerialCount count_;
  bool reuseFailed_;
};

}  // namespace tandra
