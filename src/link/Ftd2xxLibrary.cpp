#include "link/Ftd2xxLibrary.h"

// Placeholder until the loader lands.
namespace tandra {
struct Ftd2xxLibrary::Functions {};
std::unique_ptr<Ftd2xxLibrary> Ftd2xxLibrary::load(const std::string&) { return nullptr; }
const char* Ftd2xxLibrary::defaultLibraryName() { return "libftd2xx.so"; }
Ftd2xxLibrary::~Ftd2xxLibrary() = default;
FtStatus Ftd2xxLibrary::ListDevices(void*, void*, std::uint32_t) { return ft::OtherError; }
FtStatus Ftd2xxLibrary::OpenEx(void*, std::uint32_t, FtHandle*) { return ft::OtherError; }
FtStatus Ftd2xxLibrary::SetTimeouts(FtHandle, std::uint32_t, std::uint32_t) { return ft::OtherError; }
FtStatus Ftd2xxLibrary::GetQueueStatus(FtHandle, std::uint32_t*) { return ft::OtherError; }
FtStatus Ftd2xxLibrary::Write(FtHandle, const void*, std::uint32_t, std::uint32_t*) { return ft::OtherError; }
FtStatus Ftd2xxLibrary::Read(FtHandle, void*, std::uint32_t, std::uint32_t*) { return ft::OtherError; }
FtStatus Ftd2xxLibrary::Close(FtHandle) { return ft::OtherError; }
}  // namespace tandra
