#include "files/SavePlan.h"

#include <cerrno>

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

}  // namespace tandra
