#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

namespace tandra {

// Where a load takes its bytes from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Up to `count` bytes; fewer only at the end.
  virtual std::size_t read(std::uint8_t* into, std::size_t count) = 0;
  // Bytes left from the current position, where the source can tell without reading them.
  virtual std::optional<std::uint64_t> bytesLeft() const { return std::nullopt; }
};

// A file opened for reading whatever the operator picked: a regular file, a device such as
// /dev/zero that never ends, or a pipe that nobody writes to. Opening never waits for a writer,
// and a read failure throws FileError with the message for its cause.
class InputFile final : public ByteSource {
 public:
  explicit InputFile(const std::string& path);
  // An input the program was given already open (standard input): a copy of the descriptor is
  // read, and left as it was found.
  static InputFile fromDescriptor(int descriptor);
  ~InputFile() override;
  InputFile(InputFile&& other) noexcept;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  InputFile& operator=(InputFile&&) = delete;

  std::size_t read(std::uint8_t* into, std::size_t count) override;
  std::optional<std::uint64_t> bytesLeft() const override;
  // Up to `count` bytes from the start of what is left, which the reads that follow still
  // give: a look at the head of a pipe, which can be read only once.
  std::string_view peek(std::size_t count);

 private:
  InputFile() = default;
  void examine();
  std::size_t readOnce(std::uint8_t* into, std::size_t count);
  std::size_t readFromFile(std::uint8_t* into, std::size_t count);

  int fd_ = -1;
  bool regular_ = false;
  bool atEnd_ = false;
  std::uint64_t size_ = 0;
  std::uint64_t position_ = 0;
  std::vector<std::uint8_t> peeked_;  // read from the file, not yet handed out
  std::size_t peekedTaken_ = 0;
};

// The same file as the character source a text loader reads line by line.
class InputFileBuffer final : public std::streambuf {
 public:
  explicit InputFileBuffer(InputFile& file) : file_(file) {}

 protected:
  int_type underflow() override;

 private:
  InputFile& file_;
  char chunk_[65536];
};

}  // namespace tandra
