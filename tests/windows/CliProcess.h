#pragma once

// tandra-cli.exe run as a Windows console or script runs it: a process of its own, its standard
// input, output and error through pipes, its exit code.
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

namespace tandra::test {

std::wstring wide(const std::string& utf8);
std::string utf8(const std::wstring& text);

// The words after the program's name, and how it is started.
struct Launch {
  std::vector<std::string> words;  // UTF-8
  std::string input;               // written to its standard input, which is then closed
  bool keepInputOpen = false;      // the input pipe stays open until the process ends
  std::wstring folder;             // its working folder; the test's when empty
  DWORD creationFlags = 0;         // CREATE_NEW_PROCESS_GROUP, CREATE_NEW_CONSOLE, ...
  bool pipeOutputs = true;         // false: it shares the test's console, as at a prompt
};

struct Finished {
  DWORD exitCode = 0;
  bool timedOut = false;
  std::string out;  // as written, byte for byte
  std::string err;
};

class CliProcess {
 public:
  CliProcess(const std::wstring& program, const Launch& launch);
  ~CliProcess();
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  bool started() const { return info_.hProcess != nullptr; }
  DWORD id() const { return info_.dwProcessId; }
  HANDLE handle() const { return info_.hProcess; }
  // Waits until it ends (or is ended after `timeoutMs`) and gathers what it wrote.
  Finished finish(DWORD timeoutMs = 120000);

 private:
  PROCESS_INFORMATION info_{};
  HANDLE inWrite_ = nullptr;
  HANDLE outRead_ = nullptr;
  HANDLE errRead_ = nullptr;
  std::thread inWriter_;
  std::thread outReader_;
  std::thread errReader_;
  std::string out_;
  std::string err_;
};

// The program run to its end.
Finished runProgram(const std::wstring& program, const Launch& launch);

// A Windows command line that gives the program exactly these words, as the C library splits
// it: each in quotes, backslashes doubled before a quote.
std::wstring commandLine(const std::wstring& program, const std::vector<std::string>& words);

}  // namespace tandra::test
