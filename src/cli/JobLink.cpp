// What a job does about the link to the programmer beyond the operations: finding it again
// after its firmware restarted, and holding a replay's verdicts against the trace's.
#include <algorithm>

#include "cli/Job.h"
#include "common/TimeText.h"
#include "link/FirmwareUpdate.h"
#include "link/ReplayApi.h"
#include "link/Trace.h"

namespace tandra::cli {

void Job::findAfterRestart() {
  Session& session = *session_;
  const std::int64_t restartedAt = host_.monotonicMs();
  for (;;) {
    checkStop();
    host_.messages.clear();  // a search that found nothing is no news while it restarts
    if (session.connect(options_.serial)) {
      console_.note("the programmer answered again " +
                    durationText(host_.monotonicMs() - restartedAt) +
                    " after its restart, with firmware " + session.firmwareVersionText());
      return;
    }
    if (host_.monotonicMs() - restartedAt >= FirmwareUpdate::kRestartSearchMs) break;
    host_.sleepMs(500);
  }
  throw JobError(exitcode::kProgrammer, "the programmer did not answer within " +
                                            durationText(FirmwareUpdate::kRestartSearchMs) +
                                            " of its restart after the update");
}

std::string Job::verdictDifference() const {
  const auto& traced = replay_->tracedLooks();
  const auto& shown = host_.shownLooks;
  if (traced.empty()) return {};  // a trace from before the labels were traced
  const auto word = [](SocketLook look) { return std::string(Trace::lookWord(look)); };
  for (std::size_t i = 0; i < std::min(traced.size(), shown.size()); ++i) {
    for (const auto& [socket, look] : traced[i]) {
      const auto here = shown[i].find(socket);
      const SocketLook now = here == shown[i].end() ? SocketLook::Plain : here->second;
      if (now == look) continue;
      return "operation " + std::to_string(i + 1) + ": socket " + std::to_string(socket) +
             " ended " + word(look) + " in the trace and " + word(now) + " in the replay";
    }
  }
  if (traced.size() != shown.size()) {
    return "the trace holds " + std::to_string(traced.size()) + " operations, the replay ran " +
           std::to_string(shown.size());
  }
  return {};
}

}  // namespace tandra::cli
