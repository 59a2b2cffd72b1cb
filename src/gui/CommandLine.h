#pragma once

#include <QStringList>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/HardwareBackend.h"

namespace tandra {
class VirtualProgrammer;
}

// What the window's command line asks for.
struct WindowStart {
  tandra::DriverChoice driver = tandra::DriverChoice::Automatic;
  std::optional<std::pair<int, int>> virtualFirmware;
  // The virtual programmer's chips: one file for each socket from the first on, and the folder
  // they are kept in between runs.
  std::vector<std::string> virtualChips;
  std::string virtualState;
  bool fullWaits = false;
  std::string tracePath;
  bool production = false;
};

// Reads the command line; nothing when the program is to end at once with `exitCode` (--help,
// --version, or a word it does not take, said on standard output or error).
std::optional<WindowStart> readCommandLine(const QStringList& arguments, int* exitCode);

// The virtual programmer as the command line asks: each chip file in the next socket, read in
// its own format (a chip that takes whatever type is chosen), then the kept chips. What went
// wrong, or "" when all went as asked.
std::string setUpVirtualProgrammer(const WindowStart& start, tandra::VirtualProgrammer& programmer);
// The chips back into the folder, as the window closes; a chip that takes any type is kept as
// `typeName`. What could not be kept, or "".
std::string keepVirtualState(const WindowStart& start, tandra::VirtualProgrammer& programmer,
                             const std::string& typeName);
