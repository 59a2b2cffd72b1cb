#include "gui/SingleInstance.h"

#include <QDir>
#include <QLockFile>

std::unique_ptr<QLockFile> claimTheProgrammer(const QString& folder) {
  QDir().mkpath(folder);
  auto lock = std::make_unique<QLockFile>(QDir(folder).filePath("tandra-usb.lock"));
  lock->setStaleLockTime(0);  // only a lock whose window is gone is stale, however old
  if (!lock->tryLock(0)) return nullptr;
  return lock;
}
