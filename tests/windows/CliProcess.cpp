#include "CliProcess.h"

namespace tandra::test {

std::wstring wide(const std::string& utf8Text) {
  if (utf8Text.empty()) return {};
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, utf8Text.data(),
                                         static_cast<int>(utf8Text.size()), nullptr, 0);
  std::wstring text(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8Text.data(), static_cast<int>(utf8Text.size()), text.data(),
                        size);
  return text;
}

std::string utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
  return bytes;
}

namespace {

std::wstring quoted(const std::wstring& word) {
  std::wstring text = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : word) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count only before a quote: then each is doubled and the quote escaped.
    text.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    text += c;
  }
  text.append(2 * backslashes, L'\\');
  return text + L"\"";
}

// A pipe whose one end the child inherits.
void makePipe(HANDLE* read, HANDLE* write, bool childReads) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  ::CreatePipe(read, write, &inherit, 0);
  ::SetHandleInformation(childReads ? *write : *read, HANDLE_FLAG_INHERIT, 0);
}

void readAll(HANDLE from, std::string* into) {
  char chunk[65536];
  DWORD got = 0;
  while (::ReadFile(from, chunk, sizeof chunk, &got, nullptr) && got > 0) into->append(chunk, got);
}

}  // namespace

std::wstring commandLine(const std::wstring& program, const std::vector<std::string>& words) {
  std::wstring line = quoted(program);
  for (const std::string& word : words) line += L" " + quoted(wide(word));
  return line;
}

CliProcess::CliProcess(const std::wstring& program, const Launch& launch) {
  HANDLE inRead = nullptr;
  HANDLE outWrite = nullptr;
  HANDLE errWrite = nullptr;
  makePipe(&inRead, &inWrite_, true);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (launch.pipeOutputs) {
    makePipe(&outRead_, &outWrite, false);
    makePipe(&errRead_, &errWrite, false);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
  }
  std::wstring line = commandLine(program, launch.words);
  ::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, launch.creationFlags,
                   nullptr, launch.folder.empty() ? nullptr : launch.folder.c_str(), &startup,
                   &info_);
  for (HANDLE childEnd : {inRead, outWrite, errWrite}) {
    if (childEnd != nullptr) ::CloseHandle(childEnd);
  }
  inWriter_ = std::thread([this, input = launch.input, keep = launch.keepInputOpen] {
    DWORD written = 0;
    if (!input.empty()) {
      ::WriteFile(inWrite_, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
    }
    if (keep && info_.hProcess != nullptr) ::WaitForSingleObject(info_.hProcess, INFINITE);
    ::CloseHandle(inWrite_);
  });
  if (outRead_ != nullptr) outReader_ = std::thread([this] { readAll(outRead_, &out_); });
  if (errRead_ != nullptr) errReader_ = std::thread([this] { readAll(errRead_, &err_); });
}

Finished CliProcess::finish(DWORD timeoutMs) {
  Finished finished;
  if (info_.hProcess != nullptr &&
      ::WaitForSingleObject(info_.hProcess, timeoutMs) == WAIT_TIMEOUT) {
    finished.timedOut = true;
    ::TerminateProcess(info_.hProcess, 99);
    ::WaitForSingleObject(info_.hProcess, INFINITE);
  }
  if (info_.hProcess != nullptr) ::GetExitCodeProcess(info_.hProcess, &finished.exitCode);
  for (std::thread* thread : {&inWriter_, &outReader_, &errReader_}) {
    if (thread->joinable()) thread->join();
  }
  finished.out = out_;
  finished.err = err_;
  return finished;
}

CliProcess::~CliProcess() {
  finish(0);
  for (HANDLE handle : {outRead_, errRead_, info_.hProcess, info_.hThread}) {
    if (handle != nullptr) ::CloseHandle(handle);
  }
}

Finished runProgram(const std::wstring& program, const Launch& launch) {
  CliProcess process(program, launch);
  return process.finish();
}

}  // namespace tandra::test
