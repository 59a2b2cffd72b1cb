#include "files/SavePlan.h"

#include <cerrno>

#include "common/FileError.h"

namespace tandra {

SaveWay firstWay(const SaveTarget& target) {
  if (!target.exists) return SaveWay::ThroughTemporary;
  if (target.directory) return SaveWay::Refuse;
  if (!target.regular) return SaveWay::InPlace;  // a pipe or a device is written, never replaced
  if (!target.writable) return SaveWay::Refuse;
  if (target.sharedIdentity) return SaveWay::InPlace;
  return SaveWay::ThroughTemporary;
}

SaveWay afterTemporaryFailed(const SaveTarget& target, int error) {
  const bool permission = error == EACCES || error == EPERM;
  return permission && target.exists && target.regular && target.writable ? SaveWay::InPlace
                                                                          : SaveWay::Refuse;
}

void rewriteKeepingOld(std::string_view bytes, const std::optional<std::string>& old,
                       const std::function<void(std::string_view)>& put,
                       const std::function<void()>& flush) {
  try {
    put(bytes);
    flush();
  } catch (const FileError&) {
    if (old) {
      try {
        put(*old);
      } catch (const FileError&) {
        // Nothing more can be done for it: the first error is the one to tell.
      }
    }
    throw;
  }
}

}  // namespace tandra
