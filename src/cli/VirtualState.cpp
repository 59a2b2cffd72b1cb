// The virtual programmer's chips kept in a folder between runs, a file per socket named with
// the chip's type ("socket1-27C256.bin"), so that a script, a training session or a test can
// program in one run and read back in the next, as on real hardware.
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "cli/Job.h"
#include "sim/VirtualProgrammer.h"

namespace tandra::cli {

namespace {

namespace fs = std::filesystem;

std::string prefixOf(int socket) {
  return "socket" + std::to_string(socket) + "-";
}

// The socket's file in the folder, if it has one.
std::optional<fs::path> socketFile(const fs::path& folder, int socket) {
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(folder, ignored)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(prefixOf(socket)) && entry.path().extension() == ".bin") {
      return entry.path();
    }
  }
  return std::nullopt;
}

}  // namespace

void Job::loadVirtualState() {
  if (options_.virtualState.empty() || virtualProgrammer_ == nullptr) return;
  const fs::path folder(options_.virtualState);
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) {
    throw JobError(exitcode::kUsage, "--virtual-state: the folder " + folder.string() +
                                         " cannot be made: " + error.message());
  }
  for (int socket = 1; socket <= kSockets; ++socket) {
    const std::optional<fs::path> file = socketFile(folder, socket);
    if (!file) continue;
    const std::string stem = file->stem().string();
    const std::string typeName = stem.substr(prefixOf(socket).size());
    Eprom* chip = nullptr;
    try {
      chip = &virtualProgrammer_->insertChip(socket, typeName);
    } catch (const std::invalid_argument&) {
      throw JobError(exitcode::kUsage, file->string() +
                                           " names no chip type the programmer "
                                           "knows ('" +
                                           typeName + "')");
    }
    std::ifstream in(*file, std::ios::binary);
    in.read(reinterpret_cast<char*>(chip->cells().data()),
            static_cast<std::streamsize>(chip->size()));
  }
}

void Job::saveVirtualState() {
  if (options_.virtualState.empty() || virtualProgrammer_ == nullptr) return;
  const fs::path folder(options_.virtualState);
  for (int socket = 1; socket <= kSockets; ++socket) {
    std::error_code ignored;
    if (const std::optional<fs::path> old = socketFile(folder, socket)) fs::remove(*old, ignored);
    const std::optional<Eprom>& chip = virtualProgrammer_->socket(socket);
    if (!chip) continue;
    const std::string type =
        chip->type() != nullptr ? std::string(chip->type()->name) : options_.device;
    std::ofstream out(folder / (prefixOf(socket) + type + ".bin"), std::ios::binary);
    out.write(reinterpret_cast<const char*>(chip->cells().data()),
              static_cast<std::streamsize>(chip->size()));
    if (!out) fail("--virtual-state: socket " + std::to_string(socket) + "'s chip was not kept");
  }
}

}  // namespace tandra::cli
