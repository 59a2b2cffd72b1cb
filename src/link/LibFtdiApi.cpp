#include "link/LibFtdiApi.h"

// Placeholder until the backend lands.
namespace tandra {
LibFtdiApi::LibFtdiApi() = default;
LibFtdiApi::~LibFtdiApi() = default;
FtStatus LibFtdiApi::ListDevices(void*, void*, std::uint32_t) { return ft::OtherError; }
FtStatus LibFtdiApi::OpenEx(void*, std::uint32_t, FtHandle*) { return ft::OtherError; }
FtStatus LibFtdiApi::SetTimeouts(FtHandle, std::uint32_t, std::uint32_t) { return ft::OtherError; }
FtStatus LibFtdiApi::GetQueueStatus(FtHandle, std::uint32_t*) { return ft::OtherError; }
FtStatus LibFtdiApi::Write(FtHandle, const void*, std::uint32_t, std::uint32_t*) { return ft::OtherError; }
FtStatus LibFtdiApi::Read(FtHandle, void*, std::uint32_t, std::uint32_t*) { return ft::OtherError; }
FtStatus LibFtdiApi::Close(FtHandle) { return ft::OtherError; }
}  // namespace tandra
