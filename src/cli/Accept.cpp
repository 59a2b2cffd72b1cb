// tandra-cli accept: how a type added from its data sheet becomes tested. The acceptance run
// goes through every step on every socket with a trace, and writes a report to attach to the
// commit that marks the type tested: what ran, on which programmer and firmware, what each
// socket did at each step, and the trace by name and digest.
#include <fstream>
#include <sstream>

#include "cli/Job.h"
#include "common/RunId.h"
#include "common/TimeText.h"
#include "common/Version.h"
#include "link/Trace.h"
#include "production/Digest.h"

namespace tandra::cli {

namespace {

// What a report is: it names itself, so that a file attached to a commit says what it holds.
constexpr const char* kReportKind = "tandra-cli acceptance report";
constexpr int kReportVersion = 1;

std::optional<std::string> fileDigest(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return sha256Hex(bytes.str());
}

// The report reads in the order it is written, for whoever opens it beside the commit.
using Report = nlohmann::ordered_json;

Report stepJson(const AcceptanceResult& result) {
  Report sockets = Report::array();
  for (const AcceptanceSocket& socket : result.sockets) {
    sockets.push_back(
        {{"socket", socket.socket}, {"result", socket.result}, {"text", socket.text}});
  }
  return {{"step", acceptanceStepName(result.step)},
          {"passed", result.passed()},
          {"stopped", result.stopReason.empty() ? Report(nullptr) : Report(result.stopReason)},
          {"sockets", sockets}};
}

}  // namespace

std::string Job::acceptanceReportPath() const {
  return options_.report.empty() ? "tandra-accept-" + runId() + ".json" : options_.report;
}

int Job::accept() {
  const Chip& type = deviceType();
  checkStop();  // a job stopped before it began leaves the programmer alone
  openDriver(&type);
  chooseDevice(type);
  checkStop();
  connect();
  checkStop();
  applySettings();
  acceptance_ = std::make_unique<AcceptanceRun>(
      *session_,
      [this](const AcceptanceRun::Work& work) -> const OperationResult& { return operate(work); });
  acceptance_->runAll();
  for (const AcceptanceResult& result : acceptance_->results()) {
    for (const AcceptanceSocket& socket : result.sockets) {
      say(std::string(acceptanceStepName(result.step)) + ", socket " +
          std::to_string(socket.socket) + ": " + socket.result + " (" + socket.text + ")");
    }
  }
  if (linkLost_) return exitcode::kProgrammer;
  return acceptance_->passed() ? exitcode::kPassed : exitcode::kSocketFailed;
}

void Job::reportAcceptance(int& code) {
  // A run refused before the programmer was asked (a wrong word, no programmer) proves nothing
  // and leaves no report.
  if (!acceptance_) return;
  Report report;
  report["report"] = kReportKind;
  report["report_version"] = kReportVersion;
  report["program"] = std::string("tandra-cli ") + kVersion;
  report["date"] = isoTime(startedAt_);
  report["run_id"] = runId();
  report["type"] = document_["device"];
  report["data_sheet_vpp_mv"] = type_ != nullptr ? Report(type_->vppMillivolts) : Report(nullptr);
  report["vpp"] = document_["vpp"];
  report["pulse_code"] = document_["pulse_width"];
  report["programmer"] = document_["programmer"];
  report["sockets"] = Report::array();
  for (int socket = 1; socket <= options_.sockets; ++socket) {
    if ((options_.skippedSockets >> (socket - 1) & 1) == 0) report["sockets"].push_back(socket);
  }
  report["steps"] = Report::array();
  for (const AcceptanceResult& result : acceptance_->results()) {
    report["steps"].push_back(stepJson(result));
  }
  report["passed"] = acceptance_->passed() && code == exitcode::kPassed;
  report["exit_code"] = code;
  report["trace"] = nullptr;
  if (trace_) {
    // The trace ends here, so that the digest is that of the file attached with the report.
    trace_->fact("exit", std::to_string(code));
    trace_->flush();
    traceEnded_ = true;
    const std::optional<std::string> digest =
        trace_->lost() ? std::nullopt : fileDigest(tracePath_);
    report["trace"] = {{"path", tracePath_},
                       {"sha256", digest ? Report(*digest) : Report(nullptr)}};
    if (!digest) report["passed"] = false;
  }
  const std::string path = acceptanceReportPath();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << report.dump(2, ' ', false, Report::error_handler_t::replace) << "\n";
  out.close();
  if (!out) {
    fail("the report could not be written to " + path);
    code = exitcode::kUsage;
    return;
  }
  say("report written to " + path + (trace_ ? ", with the trace " + tracePath_ : std::string()) +
      ": attach both to the commit that marks the " + std::string(type_ ? type_->name : "type") +
      " tested");
}

}  // namespace tandra::cli
