#pragma once

#include <atomic>

namespace tandra {

// The stops that come from outside a program: SIGINT, SIGTERM and SIGHUP on a POSIX system;
// Ctrl-C, Ctrl-Break and the console closing (or the session ending) on Windows. From the call
// on, each sets `stop` to its POSIX signal number, the first stop being the one kept: Ctrl-C and
// Ctrl-Break as SIGINT, a closing console as SIGHUP. The program stops where Quit would, and a
// closed pipe is an error of the write, not a death. Where the system has signals, a byte is
// written to `wakeDescriptor` (when given) for each, so that an event loop that waits on it
// wakes.
void catchStops(std::atomic<int>& stop, int wakeDescriptor = -1);

// How a program ends once its job has, the programmer idled and the record written: a job that
// `signal` stopped (`code` then says 128 and the signal) ends by that signal where the system has
// signals, so that a script that ran it stops too; on Windows with `code`. Otherwise `code` is
// returned.
int endAfterJob(int signal, int code);

#if defined(_WIN32)
// What the console's handler does with an event (CTRL_C_EVENT ...): the stop it stands for, set
// as above. True when the program must then hold on while its job stops, because Windows ends it
// as soon as the handler returns (a closing console, the session ending).
bool stopForConsoleEvent(unsigned long event);
#endif

}  // namespace tandra
