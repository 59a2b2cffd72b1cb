// The command-line program: Ctrl-C becomes the Quit button, then the job runs.
#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include <atomic>
#include <csignal>
#include <iostream>

#include "cli/Cli.h"

namespace {

std::atomic<bool> interrupted{false};

extern "C" void onInterrupt(int) {
  interrupted = true;
}

}  // namespace

int main(int argc, char* argv[]) {
  // The job stops at the next point where Quit would stop it; system calls in progress go on,
  // so no packet is ever half sent.
#if defined(_WIN32)
  std::signal(SIGINT, onInterrupt);
  std::signal(SIGTERM, onInterrupt);
  const bool terminal = ::_isatty(2) != 0;
#else
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  const bool terminal = ::isatty(STDERR_FILENO) == 1;
#endif

  std::ios::sync_with_stdio(false);
  tandra::cli::CliIo io{std::cout, std::cerr, terminal, &interrupted};
  const int code = tandra::cli::runCli({argv + 1, argv + argc}, io);
  std::cout.flush();
  return code;
}
