// Ctrl-C pressed in the console of a running tandra-cli.exe: the job stops as Quit stops it, the
// programmer is idled and let go, and the program ends with 130. (Ctrl-Break and a closing
// console are handled by the same handler: StopTest's Windows rows drive it for every event.)
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>

#include "CliProcess.h"

namespace tandra::test {
namespace {

namespace fs = std::filesystem;

std::string readWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The bytes of each command the trace says went to the programmer ("> COUNT WRITTEN STATUS
// HEX..."), in order.
std::vector<std::string> commandsIn(const std::string& trace) {
  std::vector<std::string> commands;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string time, what, count, written, status, opcode;
    if (words >> time >> what >> count >> written >> status >> opcode && what == ">") {
      commands.push_back(opcode);
    }
  }
  return commands;
}

// Presses Ctrl-C in the console of the process group `group`: the test joins that console for
// the moment, ignoring the key itself.
bool pressCtrlC(DWORD group) {
  ::FreeConsole();
  bool joined = false;
  for (int attempt = 0; attempt < 50 && !joined; ++attempt) {
    joined = ::AttachConsole(group) != 0;
    if (!joined) ::Sleep(100);  // its console is still being made
  }
  if (!joined) return false;
  ::SetConsoleCtrlHandler(nullptr, TRUE);
  const bool pressed = ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, group) != 0;
  ::Sleep(200);  // the event reaches this process too, and is ignored
  ::FreeConsole();
  ::SetConsoleCtrlHandler(nullptr, FALSE);
  return pressed;
}

TEST(ConsoleStop, CtrlCStopsTheJobAsQuitDoesIdlesTheProgrammerAndEndsWith130) {
  const fs::path folder =
      fs::temp_directory_path() / ("tandra-ctrl-c-" + std::to_string(std::random_device()()));
  fs::create_directories(folder);
  std::ofstream(folder / "image.bin", std::ios::binary) << std::string(0x8000, '\x5A');
  const fs::path trace = folder / "stopped.trace";
  Launch launch;
  launch.words = {"--trace",   utf8(trace.native()),
                  "program",   "-d",
                  "27C256",    "-n",
                  "5",         utf8((folder / "image.bin").native()),
                  "--virtual", "--json"};
  launch.folder = folder.native();
  // A console of its own, as a program started from a prompt has: Ctrl-C goes to its group.
  launch.creationFlags = CREATE_NEW_CONSOLE | CREATE_NEW_PROCESS_GROUP;
  CliProcess job(fs::absolute(fs::u8path(TANDRA_CLI_EXE)).native(), launch);
  ASSERT_TRUE(job.started());
  std::size_t pages = 0;
  for (int wait = 0; wait < 400 && pages < 20; ++wait) {
    ::Sleep(50);
    const std::vector<std::string> sent = commandsIn(readWhole(trace));
    pages = static_cast<std::size_t>(std::count(sent.begin(), sent.end(), "43"));
  }
  ASSERT_GE(pages, 20u) << "the job did not get to programming";
  ASSERT_TRUE(pressCtrlC(job.id())) << "error " << ::GetLastError();
  const Finished finished = job.finish(60000);
  ASSERT_FALSE(finished.timedOut) << "Ctrl-C did not stop the job";

  EXPECT_EQ(finished.exitCode, 130u) << finished.err;
  const nlohmann::json record = nlohmann::json::parse(finished.out);
  EXPECT_EQ(record["stopped_by"], "SIGINT");
  EXPECT_EQ(record["exit_code"], 130);
  // The stopped operation passed no socket, and no chip of the job passed.
  for (const auto& chip : record["chips"]) EXPECT_EQ(chip["result"], "stopped") << chip;
  for (const auto& operation : record["operations"]) {
    if (!operation["stopped"].get<bool>()) continue;
    for (const auto& socket : operation["sockets"]) EXPECT_NE(socket["result"], "passed");
  }
  const std::string traced = readWhole(trace);
  const std::vector<std::string> sent = commandsIn(traced);
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back(), "24") << "the programmer was not idled";
  EXPECT_NE(traced.find(" close 0"), std::string::npos) << "the programmer was not let go";
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "43") % 5, 0) << "a page went to some sockets";
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

// Wine delivers Ctrl-C alone: its server refuses Ctrl-Break (server/console.c,
// propagate_console_signal: "should support the other events (like CTRL_BREAK)", answered
// STATUS_NOT_IMPLEMENTED), so Ctrl-Break reaches the program only on Windows. What the program
// does with it is StopTest's CtrlBreakMidRun.
TEST(ConsoleStop, WineRefusesToSendCtrlBreak) {
  if (::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr) {
    GTEST_SKIP() << "Windows sends Ctrl-Break; this shows a limit of Wine's";
  }
  const fs::path folder =
      fs::temp_directory_path() / ("tandra-ctrl-break-" + std::to_string(std::random_device()()));
  fs::create_directories(folder);
  std::ofstream(folder / "image.bin", std::ios::binary) << std::string(0x8000, '\x5A');
  Launch launch;
  launch.words = {"program",  "-d", "27C256", "-n", "5", utf8((folder / "image.bin").native()),
                  "--virtual"};
  launch.creationFlags = CREATE_NEW_CONSOLE | CREATE_NEW_PROCESS_GROUP;
  CliProcess idle(fs::absolute(fs::u8path(TANDRA_CLI_EXE)).native(), launch);
  ::FreeConsole();
  bool joined = false;
  for (int attempt = 0; attempt < 50 && !joined; ++attempt) {
    joined = ::AttachConsole(idle.id()) != 0;
    if (!joined) ::Sleep(100);
  }
  ::SetConsoleCtrlHandler(nullptr, TRUE);
  const bool sent = ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, idle.id()) != 0;
  ::FreeConsole();
  ::SetConsoleCtrlHandler(nullptr, FALSE);
  ::TerminateProcess(idle.handle(), 0);
  idle.finish();
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  if (!joined) GTEST_SKIP() << "Wine made no console for the program to join";
  EXPECT_FALSE(sent) << "this Wine sends Ctrl-Break: run the Ctrl-C case with it too";
}

}  // namespace
}  // namespace tandra::test
