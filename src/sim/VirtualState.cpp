#include "sim/VirtualState.h"

#include <algorithm>
#include <fstream>
#include <optional>

#include "sim/VirtualProgrammer.h"

namespace tandra {

namespace {

namespace fs = std::filesystem;

std::string prefixOf(int socket) {
  return "socket" + std::to_string(socket);
}

// The socket's file in the folder, if it has one: "socket1-27C256.bin", or "socket1.bin".
std::optional<fs::path> socketFile(const fs::path& folder, int socket) {
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(folder, ignored)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".bin") continue;
    if (name.starts_with(prefixOf(socket) + "-") || name == prefixOf(socket) + ".bin") {
      return entry.path();
    }
  }
  return std::nullopt;
}

}  // namespace

Eprom& putChip(VirtualProgrammer& programmer, int socket, std::string_view typeName,
               std::span<const std::uint8_t> contents) {
  Eprom& chip = typeName.empty() ? programmer.socket(socket).emplace()
                                 : programmer.insertChip(socket, typeName);
  std::copy_n(contents.begin(), std::min(contents.size(), chip.size()), chip.cells().begin());
  return chip;
}

void loadVirtualState(VirtualProgrammer& programmer, const fs::path& folder) {
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) {
    throw VirtualStateError("--virtual-state: the folder " + folder.string() +
                            " cannot be made: " + error.message());
  }
  for (int socket = 1; socket <= kSockets; ++socket) {
    const std::optional<fs::path> file = socketFile(folder, socket);
    if (!file) continue;
    const std::string stem = file->stem().string();
    const std::string typeName =
        stem.size() > prefixOf(socket).size() ? stem.substr(prefixOf(socket).size() + 1) : "";
    std::ifstream in(*file, std::ios::binary);
    std::vector<std::uint8_t> cells((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    try {
      putChip(programmer, socket, typeName, cells);
    } catch (const std::invalid_argument&) {
      throw VirtualStateError(file->string() + " names no chip type the programmer knows ('" +
                              typeName + "')");
    }
  }
}

std::vector<std::string> saveVirtualState(VirtualProgrammer& programmer, const fs::path& folder,
                                          std::string_view typeName) {
  std::vector<std::string> notKept;
  for (int socket = 1; socket <= kSockets; ++socket) {
    std::error_code ignored;
    if (const std::optional<fs::path> old = socketFile(folder, socket)) fs::remove(*old, ignored);
    const std::optional<Eprom>& chip = programmer.socket(socket);
    if (!chip) continue;
    const std::string type =
        chip->type() != nullptr ? std::string(chip->type()->name) : std::string(typeName);
    const std::string name = prefixOf(socket) + (type.empty() ? "" : "-" + type) + ".bin";
    // A chip of the type chosen is kept at its own size; one that takes any type whole.
    std::size_t size = chip->size();
    if (chip->type() == nullptr && !type.empty()) {
      try {
        size = std::min(size, Eprom(sim::chipNamed(type)).size());
      } catch (const std::invalid_argument&) {
      }
    }
    std::ofstream out(folder / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(chip->cells().data()),
              static_cast<std::streamsize>(size));
    if (!out) {
      notKept.push_back("--virtual-state: socket " + std::to_string(socket) +
                        "'s chip was not kept");
    }
  }
  return notKept;
}

}  // namespace tandra
