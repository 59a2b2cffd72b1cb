#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tandra {

// What a save knows of its target before it writes anything.
struct SaveTarget {
  bool exists = false;
  bool directory = false;
  bool regular = false;   // a plain file, not a pipe or a device
  bool writable = false;  // its mode, its attributes and this user let it be written
  // Another name would keep the old image if the file were replaced: a second hard link, or
  // an owner other than this user (a replaced file would become this user's).
  bool sharedIdentity = false;
};

// How a save goes about it.
enum class SaveWay {
  Refuse,            // File access denied; nothing is touched
  InPlace,           // the file itself is rewritten: every name sees the new image
  ThroughTemporary,  // a complete file beside it takes its place in one step
};

// The first choice, from what the target is.
SaveWay firstWay(const SaveTarget& target);
// When the temporary file could not be made or put in the target's place, with the system's
// error number: a file this user may write is rewritten in place where only the folder's
// permission (or a sticky folder) stood in the way; any other failure refuses the save, and
// the old file stays as it was. (A failure while writing the temporary file always keeps the
// old file.)
SaveWay afterTemporaryFailed(const SaveTarget& target, int error);

// A regular file rewritten in place keeps every name, and so nothing else holds its old image:
// it is opened without being emptied and what it held is read first (`old`, none where it may
// not be read). `put` writes contents from the file's start and cuts the file to their length;
// `flush` takes the new image to the disk. Should either fail, the old contents are put back,
// and the first error is the one thrown.
void rewriteKeepingOld(std::string_view bytes, const std::optional<std::string>& old,
                       const std::function<void(std::string_view)>& put,
                       const std::function<void()>& flush);

}  // namespace tandra
