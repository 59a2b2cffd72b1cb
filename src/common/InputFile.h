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
  // The end came because a pipe kept quiet, not because its writer closed it: what came before
  // may not be all there was.
  virtual bool cutShort() const { return false; }
};

// A file opened for reading whatever the operator picked: a regular file, a device such as
// /dev/zero that never ends, or a pipe whose writer is late, slow or never comes. Opening never
// waits; the first bytes of a pipe are waited for a while (a writer may start after the reader),
// after them a pipe that keeps quiet for half a second is taken to have ended. A read failure
// throws FileError with the message for its cause.
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

  static constexpr int kQuietPipeMs = 500;
  // How long the first bytes of a pipe are waited for (tests shorten it).
  static inline int writerWaitMs = 10000;
  // Waits up to `timeoutMs` for a pipe's next bytes: above 0 when they are there, 0 when the
  // time passed, below 0 on an error (errno tells). Null: the system's poll. Tests answer in
  // its place, so that a pipe's pauses take no time.
  static inline int (*waitForBytes)(int fd, int timeoutMs) = nullptr;

  std::size_t read(std::uint8_t* into, std::size_t count) override;
  bool cutShort() const override { return cutShort_; }
  // Up to `count` bytes from the start of what is left, which the reads that follow still
  // give: a look at the head of a pipe, which can be read only once.
  std::string_view peek(std::size_t count);

 private:
  InputFile() = default;
  void examine();
  std::size_t readOnce(std::uint8_t* into, std::size_t count);
  std::size_t readFromFile(std::uint8_t* into, std::size_t count);
  // Why a pipe gave nothing in all the time its first bytes were waited for.
  std::string nothingCameMessage();

  int fd_ = -1;
  bool regular_ = false;
  bool nonBlocking_ = false;
  bool atEnd_ = false;
  bool received_ = false;  // a byte has come
  bool cutShort_ = false;
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
