#pragma once

#include <filesystem>
#include <string>

namespace tandra {

// A file's name as the programs hold it, and as the file system takes it. On Windows, which
// names files in UTF-16, the programs hold names in UTF-8 (tandra-cli takes its command line so);
// elsewhere a name is the bytes the system gave, whatever they are.
inline std::filesystem::path fileSystemPath(const std::string& name) {
#if defined(_WIN32)
  return std::filesystem::path(std::u8string(name.begin(), name.end()));
#else
  return std::filesystem::path(name);
#endif
}

inline std::string programsName(const std::filesystem::path& path) {
#if defined(_WIN32)
  const std::u8string name = path.u8string();
  return std::string(name.begin(), name.end());
#else
  return path.string();
#endif
}

}  // namespace tandra
