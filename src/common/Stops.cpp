#include "common/Stops.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

#include <csignal>

namespace tandra {

namespace {

// The POSIX numbers a stop is told by, also where the system names no such signal.
constexpr int kHangUp = 1;
constexpr int kInterrupt = 2;

std::atomic<int>* stopAsked = nullptr;

void stopBy(int signal) {
  int none = 0;
  stopAsked->compare_exchange_strong(none, signal);
}

}  // namespace

#if defined(_WIN32)

namespace {

// Windows ends a process whose console closes once its handler returns, and in any case some
// five seconds after the event: the job has that long to stop, idle the programmer and write its
// record and log, and the program then ends on its own, with its exit code.
constexpr DWORD kClosingConsoleWaitMs = 10000;

// Called on a thread of its own, which Windows starts for the event.
BOOL WINAPI onConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      if (stopForConsoleEvent(event)) ::Sleep(kClosingConsoleWaitMs);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

bool stopForConsoleEvent(unsigned long event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      stopBy(kInterrupt);
      return false;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      stopBy(kHangUp);
      return true;
    default:
      return false;
  }
}

void catchStops(std::atomic<int>& stop, int) {
  stopAsked = &stop;
  // A program started by one that ignores Ctrl-C inherits that; this one takes it again.
  ::SetConsoleCtrlHandler(nullptr, FALSE);
  ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

int endAfterJob(int, int code) {
  // The C library's SIGINT would end the program with exit code 3: the code the job ended with
  // says what stopped it.
  return code;
}

#else

namespace {

int wakeWith = -1;

extern "C" void onStopSignal(int signal) {
  stopBy(signal);
  if (wakeWith >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeWith, &byte, 1);
  }
}

}  // namespace

void catchStops(std::atomic<int>& stop, int wakeDescriptor) {
  stopAsked = &stop;
  wakeWith = wakeDescriptor;
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  // System calls in progress go on, so that no packet is ever half sent.
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

int endAfterJob(int signal, int code) {
  if (signal != 0 && code == 128 + signal) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
  }
  return code;
}

#endif

}  // namespace tandra
