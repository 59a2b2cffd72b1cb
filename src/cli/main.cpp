// The command-line program: a stop from outside becomes the session's stop, the outputs are
// written with every failure seen, then the job runs.
#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "common/FileSizeLimit.h"
#include "common/Stops.h"

namespace {

std::atomic<int> stopSignal{0};

// An output written straight to its descriptor, keeping the reason of a failed write: a full
// disk and a reader that went away end a job differently.
class DescriptorBuffer final : public std::streambuf {
 public:
  explicit DescriptorBuffer(int descriptor) : descriptor_(descriptor) {
    setp(buffer_, buffer_ + sizeof buffer_);
  }
  int error() const { return error_; }

 protected:
  int_type overflow(int_type c) override {
    if (writeOut() != 0) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override { return writeOut(); }

 private:
  int writeOut() {
    const char* next = pbase();
    while (next < pptr()) {
#if defined(_WIN32)
      const int written = ::_write(descriptor_, next, static_cast<unsigned>(pptr() - next));
#else
      const ssize_t written = ::write(descriptor_, next, static_cast<std::size_t>(pptr() - next));
#endif
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) {
        error_ = written < 0 ? errno : ENOSPC;
        setp(buffer_, buffer_ + sizeof buffer_);
        return -1;
      }
      next += written;
    }
    setp(buffer_, buffer_ + sizeof buffer_);
    return 0;
  }

  int descriptor_;
  int error_ = 0;
  char buffer_[8192];
};

bool isOpen(int descriptor) {
#if defined(_WIN32)
  return ::_get_osfhandle(descriptor) != -1;
#else
  return ::fcntl(descriptor, F_GETFD) != -1;
#endif
}

int runProgram(const std::vector<std::string>& words) {
  tandra::catchStops(stopSignal);
  tandra::letWritesPastTheSizeLimitFail();
#if defined(_WIN32)
  const bool terminal = ::_isatty(2) != 0;
#else
  const bool terminal = ::isatty(STDERR_FILENO) == 1;
#endif

  // Without standard output the job's record would be lost before it is made.
  if (!isOpen(1)) {
    std::cerr << "tandra-cli: standard output is closed, so the job's record would be lost\n";
    return tandra::cli::exitcode::kUsage;
  }

  DescriptorBuffer outBuffer(1);
  DescriptorBuffer errBuffer(2);
  std::ostream out(&outBuffer);
  std::ostream err(&errBuffer);
  tandra::cli::CliIo io(out, err);
  io.errIsTerminal = terminal;
  io.stopSignal = &stopSignal;
  io.outError = [&] { return outBuffer.error(); };
  io.errError = [&] { return errBuffer.error(); };
  const int code = tandra::cli::runCli(words, io);
  out.flush();
  err.flush();
  return tandra::endAfterJob(stopSignal.load(), code);
}

}  // namespace

#if defined(_WIN32)
// Windows hands main its words in the local code page, which cannot spell every file name; the
// program takes them as UTF-8, as it names files everywhere.
int wmain(int argc, wchar_t* argv[]) {
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string word(size > 0 ? static_cast<std::size_t>(size) : 1, '\0');
    if (size > 0) {
      ::WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, word.data(), size, nullptr, nullptr);
    }
    word.pop_back();  // the terminating zero
    words.push_back(word);
  }
  return runProgram(words);
}
#else
int main(int argc, char* argv[]) {
  return runProgram({argv + 1, argv + argc});
}
#endif
