#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tandra {

class Eprom;
class VirtualProgrammer;

// A folder of chips the virtual programmer cannot take, in words for the operator.
struct VirtualStateError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The virtual programmer's chips kept in a folder between runs, a file per socket named with the
// chip's type ("socket1-27C256.bin"; "socket1.bin" for a chip that takes whatever type is
// chosen), so that a script, a training session or a test can program in one run and read back
// in the next, as on real hardware. Both programs keep them the same way.
//
// Puts the folder's chips into their sockets (sockets without a file keep their chips); the
// folder is made when it is not there. Throws VirtualStateError.
void loadVirtualState(VirtualProgrammer& programmer, const std::filesystem::path& folder);
// Writes every socket's chip into the folder, in place of the files there; a chip that takes
// whatever type is chosen is kept as `typeName` when one is given. Gives what could not be
// kept, one line a socket.
std::vector<std::string> saveVirtualState(VirtualProgrammer& programmer,
                                          const std::filesystem::path& folder,
                                          std::string_view typeName);

// A chip in `socket` holding `contents` from address 0 and blank past them: of the named type,
// or of whatever type is chosen when `typeName` is empty.
Eprom& putChip(VirtualProgrammer& programmer, int socket, std::string_view typeName,
               std::span<const std::uint8_t> contents);

}  // namespace tandra
