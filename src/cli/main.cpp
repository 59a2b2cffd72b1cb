// The command-line program: a stop signal becomes the session's stop, the outputs are written
// with every failure seen, then the job runs.
#if defined(_WIN32)
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <csignal>
#include <iostream>
#include <streambuf>

#include "cli/Cli.h"
#include "common/FileSizeLimit.h"

namespace {

std::atomic<int> stopSignal{0};

extern "C" void onStopSignal(int signal) {
  // The first signal is the one the job ends with.
  int none = 0;
  stopSignal.compare_exchange_strong(none, signal);
}

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

}  // namespace

int main(int argc, char* argv[]) {
  // The job stops at the next point where Quit would stop it; system calls in progress go on,
  // so no packet is ever half sent. A closed pipe is an error of the write, not a death.
#if defined(_WIN32)
  std::signal(SIGINT, onStopSignal);
  std::signal(SIGTERM, onStopSignal);
  const bool terminal = ::_isatty(2) != 0;
#else
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  tandra::letWritesPastTheSizeLimitFail();
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
  const int code = tandra::cli::runCli({argv + 1, argv + argc}, io);
  out.flush();
  err.flush();
  // Stopped by a signal: the programmer is idled and let go, the record and the log are written;
  // now the program ends by that signal, as a shell expects, so that a script that ran it stops
  // too rather than going on to its next command.
  const int signal = stopSignal.load();
  if (signal != 0 && code == tandra::cli::exitcode::kSignalBase + signal) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
  }
  return code;
}
