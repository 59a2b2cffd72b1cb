// What the pipeline soak holds each run to, once its chips have been read back.
#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>

#include "PipelineRun.h"
#include "PipelineSoak.h"

namespace tandra::test {

namespace {

// The serial number as the chip should hold it, written here afresh from the options rather than
// by the program's own code.
Bytes stampOf(std::uint64_t number, const std::string& format, int bytes) {
  Bytes out(static_cast<std::size_t>(bytes), 0);
  for (int i = 0; i < bytes; ++i) {
    const auto at = static_cast<std::size_t>(i);
    const auto back = static_cast<std::size_t>(bytes - 1 - i);
    if (format == "le") {
      out[at] = static_cast<std::uint8_t>(i < 8 ? number >> (8 * i) : 0);
    } else if (format == "be") {
      out[back] = static_cast<std::uint8_t>(i < 8 ? number >> (8 * i) : 0);
    } else if (format == "ascii") {
      out[back] = static_cast<std::uint8_t>('0' + number % 10);
      number /= 10;
    } else {  // bcd
      out[back] = static_cast<std::uint8_t>(number % 10 | (number / 10 % 10) << 4);
      number /= 100;
    }
  }
  return out;
}

}  // namespace

void PipelineSoak::check(const PipelineRun& run) {
  struct Claim {
    int set;
    int socket;
    std::string result;
    std::optional<std::uint64_t> serial;
    std::string where;
  };
  std::vector<Claim> verdicts;  // what the record or the result lines say of each chip
  std::vector<Claim> logged;

  // The log, from where this run's lines begin.
  std::ifstream logFile(run.logPath);
  logFile.seekg(static_cast<std::streamoff>(run.logFrom));
  for (std::string line; std::getline(logFile, line);) {
    if (line.empty() || line.starts_with("{\"cut\": ")) continue;
    nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
    if (parsed.is_discarded()) {
      if (logFile.peek() != EOF)
        find(run, figures_.disagreements, "a log line is not JSON: " + line);
      continue;  // the last line, cut by the full disk: its chip must be named as missing
    }
    std::optional<std::uint64_t> serial;
    if (parsed["serial_number"].is_number()) serial = parsed["serial_number"].get<std::uint64_t>();
    if (parsed["serial_number"].is_string())
      serial = std::stoull(parsed["serial_number"].get<std::string>());
    logged.push_back({parsed["set"].get<int>(), parsed["socket"].get<int>(),
                      parsed["result"].get<std::string>(), serial, "log"});
  }

  // The record, or the result lines.
  std::set<std::pair<int, int>> missing;
  std::optional<nlohmann::json> record;
  if (run.json) {
    nlohmann::json parsed = nlohmann::json::parse(run.out, nullptr, false);
    if (!parsed.is_discarded()) record = parsed;
  }
  bool linesWhole = !run.json && !(run.fault == Fault::OutputFails);
  if (record) {
    if ((*record)["chips"].is_array()) {
      for (const auto& chip : (*record)["chips"]) {
        std::optional<std::uint64_t> serial;
        if (chip["serial_number"].is_string())
          serial = std::stoull(chip["serial_number"].get<std::string>());
        verdicts.push_back({chip["set"].get<int>(), chip["socket"].get<int>(),
                            chip["result"].get<std::string>(), serial, "record"});
      }
    }
    if ((*record)["log"].is_object()) {
      for (const auto& chip : (*record)["log"]["missing"]) {
        missing.insert({chip["set"].get<int>(), chip["socket"].get<int>()});
      }
    }
  } else if (linesWhole) {
    static const std::regex kLine(R"(^(?:set (\d+), )?socket (\d)(?: \(serial (\d+)\))?: (.*)$)");
    std::map<std::pair<int, int>, Claim> last;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
      std::smatch m;
      if (!std::regex_match(line, m, kLine)) continue;
      const int set = m[1].matched ? std::stoi(m[1]) : 1;
      const int socket = std::stoi(m[2]);
      const std::string words = m[4];
      const bool passing = words == (run.noVerify ? "Programmed OK" : "Verified OK");
      const std::string result = passing                        ? "passed"
                                 : words.starts_with("Skipped") ? "skipped"
                                 : words.starts_with("Stopped") || words.ends_with("not verified")
                                     ? "stopped"
                                     : "failed";
      std::optional<std::uint64_t> serial;
      if (m[3].matched) serial = std::stoull(m[3]);
      last[{set, socket}] = {set, socket, result, serial, "line"};
    }
    for (const auto& [key, claim] : last) verdicts.push_back(claim);
    static const std::regex kMissing(R"(set (\d+) socket (\d))");
    const std::size_t notIn = run.err.find("not in it: ");
    if (notIn != std::string::npos) {
      const std::string list = run.err.substr(notIn, run.err.find('\n', notIn) - notIn);
      for (std::sregex_iterator it(list.begin(), list.end(), kMissing), end; it != end; ++it) {
        missing.insert({std::stoi((*it)[1]), std::stoi((*it)[2])});
      }
    }
  }

  // Every chip reported passed holds exactly its image and its serial number.
  std::map<std::uint64_t, int> passedSerials, givenSerials;
  auto checkPass = [&](const Claim& claim) {
    if (claim.result != "passed") return;
    const auto chip = run.chips.find({claim.set, claim.socket});
    Bytes wanted = run.expected[static_cast<std::size_t>(claim.socket)];
    if (run.serials) {
      if (!claim.serial) {
        find(run, figures_.falsePasses,
             claim.where + ": set " + std::to_string(claim.set) + " socket " +
                 std::to_string(claim.socket) + " passed without its serial number");
        return;
      }
      const Bytes stamp = stampOf(*claim.serial, run.stampFormat, run.stampBytes);
      std::copy(stamp.begin(), stamp.end(), wanted.begin() + run.stampAt);
    }
    if (chip == run.chips.end() || chip->second != wanted) {
      std::string where = "it was not read back";
      if (chip != run.chips.end()) {
        const auto differ = std::mismatch(wanted.begin(), wanted.end(), chip->second.begin());
        where = "at " + std::to_string(differ.first - wanted.begin()) + " it holds " +
                std::to_string(*differ.second) + ", not " + std::to_string(*differ.first);
      }
      find(run, figures_.falsePasses,
           claim.where + ": set " + std::to_string(claim.set) + " socket " +
               std::to_string(claim.socket) +
               " reported passed, but its chip does not hold its image: " + where);
    }
  };
  for (const Claim& claim : verdicts) checkPass(claim);
  for (const Claim& claim : logged) checkPass(claim);

  // No serial number twice: among passed chips ever, among all chips unless failed ones are
  // given again.
  // Every chip once: as the log has it, or else as the record or the result lines do.
  std::vector<Claim> numbered = logged;
  for (const Claim& claim : verdicts) {
    const bool inLog = std::any_of(logged.begin(), logged.end(), [&](const Claim& line) {
      return line.set == claim.set && line.socket == claim.socket;
    });
    if (!inLog) numbered.push_back(claim);
  }
  for (const Claim& claim : numbered) {
    if (!claim.serial) continue;
    if (claim.result == "passed" && ++passedSerials[*claim.serial] == 2) {
      find(run, figures_.serialRepeats,
           "serial number " + std::to_string(*claim.serial) + " passed twice");
    }
    if (!run.reuseFailed && claim.result != "skipped" && ++givenSerials[*claim.serial] == 2) {
      find(run, figures_.serialRepeats,
           "serial number " + std::to_string(*claim.serial) + " given twice");
    }
  }

  // A chip carries its number when it passed, or when it was sent its stamp's page: its stamp's
  // bytes are no longer those it was put in with. No number is carried twice, in a run or over
  // the runs of the shared ledger, and the ledger never gives a passed chip's number again.
  const auto carries = [&](const Claim& claim) {
    if (claim.result == "passed") return true;
    const auto chip = run.chips.find({claim.set, claim.socket});
    const auto put = run.inserted.find({claim.set, claim.socket});
    if (chip == run.chips.end() || put == run.inserted.end()) return false;
    const auto stamp = chip->second.begin() + run.stampAt;
    return !std::equal(put->second.begin(), put->second.end(), stamp);
  };
  std::map<std::uint64_t, int> carriedHere;
  std::set<std::uint64_t> passedHere, carriedNow;
  for (const Claim& claim : numbered) {
    if (!claim.serial) continue;
    const std::string number = std::to_string(*claim.serial);
    if (run.ledger && ledgerPassed_.count(*claim.serial) != 0) {
      find(run, figures_.serialRepeats, "the ledger gave " + number + " again after it passed");
    }
    if (claim.result == "skipped" || !carries(claim)) continue;
    ++figures_.carried;
    if (++carriedHere[*claim.serial] == 2) {
      find(run, figures_.serialRepeats,
           "serial number " + number + " is on two chips that passed or were sent its page");
    }
    if (run.ledger && ledgerCarried_.count(*claim.serial) != 0) {
      find(run, figures_.serialRepeats,
           "the ledger gave " + number + " again after a chip was sent its page");
    }
    carriedNow.insert(*claim.serial);
    if (claim.result == "passed") passedHere.insert(*claim.serial);
  }
  if (run.ledger) {
    ledgerCarried_.insert(carriedNow.begin(), carriedNow.end());
    ledgerPassed_.insert(passedHere.begin(), passedHere.end());
  }

  // The numbers a prompt named are the ones its set got, whatever another station took.
  for (const auto& [set, named] : run.announced) {
    for (const Claim& claim : numbered) {
      if (claim.set != set || !claim.serial) continue;
      if (std::find(named.begin(), named.end(), *claim.serial) == named.end()) {
        find(run, figures_.serialRepeats,
             "set " + std::to_string(set) + " socket " + std::to_string(claim.socket) + " got " +
                 std::to_string(*claim.serial) + ", a number its prompt did not name");
      }
    }
  }

  // Every chip an operation had is in the log once, or named as missing from it.
  std::map<std::pair<int, int>, int> lines;
  for (const Claim& claim : logged) {
    if (++lines[{claim.set, claim.socket}] == 2) {
      find(run, figures_.disagreements,
           "set " + std::to_string(claim.set) + " socket " + std::to_string(claim.socket) +
               " is in the log twice");
    }
  }
  for (const Claim& claim : verdicts) {
    if (claim.result == "skipped") continue;
    ++figures_.chips;
    if (claim.result == "passed") ++figures_.passes;
    const std::pair<int, int> key{claim.set, claim.socket};
    if (lines.count(key) == 0 && missing.count(key) == 0) {
      find(run, figures_.unloggedChips,
           "set " + std::to_string(claim.set) + " socket " + std::to_string(claim.socket) + " (" +
               claim.result + ") is not in the log and not named as missing");
    }
  }
  for (const Claim& claim : logged) {
    if (record || linesWhole) {
      const bool reported = std::any_of(verdicts.begin(), verdicts.end(), [&](const Claim& v) {
        return v.set == claim.set && v.socket == claim.socket && v.result == claim.result;
      });
      if (!reported) {
        find(run, figures_.disagreements,
             "the log says set " + std::to_string(claim.set) + " socket " +
                 std::to_string(claim.socket) + " " + claim.result + ", the report does not");
      }
    }
  }

  // The exit code, the closing line and the record's counts agree with the verdicts.
  int passed = 0, counted = 0;
  std::set<int> sets;
  for (const Claim& claim : verdicts) {
    if (claim.result == "skipped") continue;
    ++counted;
    passed += claim.result == "passed";
    sets.insert(claim.set);
  }
  figures_.sets += sets.size();
  const bool stopped = run.code >= 128;
  if (stopped || run.code == 3) ++figures_.stopped;
  if (run.code == 2 && counted == 0) ++figures_.refused;
  if (run.trouble != Trouble::None && (run.code == 0 || counted != 0)) {
    find(run, figures_.disagreements, "the run was not refused before a chip");
  }
  if (run.code == 0 && (passed != counted || (counted == 0 && (record || linesWhole)))) {
    find(run, figures_.disagreements,
         "exit code 0 with " + std::to_string(passed) + " of " + std::to_string(counted) +
             " chips passed");
  }
  if (run.code == 1 && passed == counted && counted > 0) {
    find(run, figures_.disagreements, "exit code 1 with every chip passed");
  }
  if (record) {
    if ((*record)["exit_code"] != run.code)
      find(run, figures_.disagreements, "the record's exit code differs");
    if ((*record)["sets"].is_object() && (*record)["sets"]["chips_passed"] != passed) {
      find(run, figures_.disagreements,
           "the record counts " + (*record)["sets"]["chips_passed"].dump() +
               " chips passed, its chips say " + std::to_string(passed));
    }
  } else if (linesWhole && counted > 0) {
    static const std::regex kClosing(R"(program: (\d+) of (\d+) (sockets|chips) passed)");
    std::smatch m;
    if (std::regex_search(run.out, m, kClosing) &&
        (std::stoi(m[1]) != passed || std::stoi(m[2]) != counted)) {
      find(run, figures_.disagreements,
           "the closing line says " + m.str() + ", the lines " + std::to_string(passed) + " of " +
               std::to_string(counted));
    }
  }
}

void PipelineSoak::checkLine(const PipelineRun& run, const SoakLine::Refusal& refusal) {
  figures_.races += static_cast<std::uint64_t>(run.races);
  // The run's own log lines: the numbers its chips hold, and those of chips that passed.
  std::vector<std::uint64_t> logged, passed;
  std::ifstream log(run.logPath);
  log.seekg(static_cast<std::streamoff>(run.logFrom));
  for (std::string line; std::getline(log, line);) {
    const nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object() || !parsed["serial_number"].is_string()) {
      continue;
    }
    logged.push_back(std::stoull(parsed["serial_number"].get<std::string>()));
    if (parsed["result"] == "passed") passed.push_back(logged.back());
  }
  if (run.trouble == Trouble::None) {
    // A ledger nobody touched is never refused.
    for (const char* word : {"cannot be trusted", "is older than the log"}) {
      if (run.err.find(word) != std::string::npos || run.out.find(word) != std::string::npos) {
        find(run, figures_.disagreements, std::string("an untouched ledger was refused: ") + word);
      }
    }
    line_->ran(logged, passed);
    return;
  }
  // Refused before a chip was touched: no number spent, no line written, and the reason said.
  ++figures_.troubles;
  if (refusal.numbersSpent > 0) {
    figures_.spentByRefused += refusal.numbersSpent;
    if (findings_.size() < 50) {
      findings_.push_back(run.describe() + ": the refused run spent " +
                          std::to_string(refusal.numbersSpent) + " numbers");
    }
  }
  if (!refusal.untouched) find(run, figures_.disagreements, "the refused run changed the ledger");
  if (!logged.empty()) find(run, figures_.disagreements, "the refused run wrote log lines");
  if (run.code != SoakLine::exitCode(run.trouble)) {
    find(run, figures_.disagreements,
         "refused with exit code " + std::to_string(run.code) + ", not " +
             std::to_string(SoakLine::exitCode(run.trouble)));
  }
  const std::vector<std::string> words = SoakLine::words(run.trouble);
  const bool said = std::any_of(words.begin(), words.end(), [&](const std::string& word) {
    return run.err.find(word) != std::string::npos || run.out.find(word) != std::string::npos;
  });
  if (!said) find(run, figures_.disagreements, "the refusal does not say '" + words.front() + "'");
}

}  // namespace tandra::test
