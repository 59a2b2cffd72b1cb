// The production panel's runs: a run opens on the choices (its plan, its log, its count), runs
// its sets one after another as the operator asks, and ends with its statistics.
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>

#include "common/RunId.h"
#include "common/TimeText.h"
#include "device/Session.h"
#include "gui/MainForm.h"
#include "gui/ProductionPanel.h"
#include "production/ProductionLog.h"
#include "production/RunRecords.h"
#include "production/SessionFacts.h"
#include "sim/VirtualProgrammer.h"

namespace {

QString text(const std::string& words) {
  return QString::fromStdString(words);
}

void paintVerdict(QLabel* label, const char* background, const char* ink) {
  label->setStyleSheet(
      QString("background-color: %1; color: %2; border-radius: 6px").arg(background, ink));
}

QString chipText(const tandra::ChipVerdict& chip) {
  if (!chip.counted()) return "left out";
  return QString(chip.passed() ? "\u2714 " : "\u2718 ") + text(chip.result.describe());
}

}  // namespace

void ProductionPanel::programSetAsked() {
  if (setRunning_) return;
  say({});
  const tandra::SessionFacts facts = tandra::factsOf(session_);
  if (facts.type == nullptr) {
    say("Choose the device type and the number of sockets in the main window first (Alt+D "
        "there).");
    return;
  }
  if (facts.inUse == 0) {
    say("No socket is in use: choose the number of sockets, or put a socket back, in the main "
        "window.");
    return;
  }
  if (!facts.connected) {
    say("No programmer answers: look for it again in the main window (Alt+R there).");
    return;
  }
  if (run_ && !(run_->basis == basisNow())) {
    finishRun("The main window's type, sockets or buffer changed, so the run ended.");
  }
  // A run opens (its log, its ledger) only once the main window is free to run its set.
  const bool mainWindowFree = form_.runProductionWork([this] {
    if (!run_ && !startRun()) return;
    showLogLine();
    runOneSet();
  });
  if (!mainWindowFree) {
    say("The main window is at work, or one of its lists is open: finish there first.");
  }
  refresh();
  takeKeyboardBack(programSet);
  if (closePending_) {
    closePending_ = false;
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
  }
}

bool ProductionPanel::startRun() {
  if (!takeSerialEntries()) return false;
  const tandra::SessionFacts facts = tandra::factsOf(session_);
  auto run = std::make_unique<Run>();
  try {
    run->plan = choices_.plan(session_, bufferFile(), tandra::runId());
  } catch (const std::exception& error) {
    say(text(error.what()));
    return false;
  }
  // A chip can pass only on an image that loaded cleanly: one that cannot is refused before any
  // chip is touched.
  for (int socket = 1; socket <= 5; ++socket) {
    if (!facts.socketInUse(socket)) continue;
    if (const std::optional<std::string> why =
            tandra::imageShortfall(run->plan->standingOf(socket))) {
      const QString reason = text(*why);
      say("Socket " + QString::number(socket) + " (" + text(run->plan->imageNameOf(socket)) +
          "): " + reason + (reason.endsWith('.') ? "" : "."));
      return false;
    }
  }
  // The log is opened, and found writable, before any chip is touched.
  if (!choices_.logPath.empty()) {
    try {
      run->log = std::make_unique<tandra::ProductionLog>(choices_.logPath, choices_.logFormat);
    } catch (const tandra::LogError& error) {
      say(text(error.what()));
      return false;
    }
  }
  tandra::ChipPromise promise;
  promise.image = bufferFile().standing;
  promise.image.needed = true;
  promise.logWanted = run->log != nullptr;
  promise.operations = {tandra::Operation::Program, tandra::Operation::Verify};
  run->sets.emplace(session_, *run->plan, promise, true);
  if (run->log) {
    run->sets->keepLog(*run->log, tandra::LogFacts{tandra::runId(), tandra::hostName(), "",
                                                   std::string(facts.type->name)});
    if (run->log->endedCutLine()) {
      say(text("The log ended in a line cut short by an earlier run: it has been ended, so "
               "that this run's lines stand on their own."),
          false);
    }
  }
  run->sets->setProgrammer(tandra::programmerSerial(session_));
  run->statistics = tandra::RunStatistics();
  run->basis = basisNow();
  run_ = std::move(run);
  statistics->hide();
  counters->setText("No set has run yet.");
  return true;
}

void ProductionPanel::putInBlankChips() {
  // On the virtual programmer each set after the first finds new blank chips, as the operator
  // changes them; real chips are changed by hand.
  tandra::VirtualProgrammer* programmer = form_.virtualProgrammer();
  const tandra::SessionFacts facts = tandra::factsOf(session_);
  if (programmer == nullptr || facts.type == nullptr || setsRunHere_ == 0) return;
  for (int socket = 1; socket <= tandra::kSockets; ++socket) {
    programmer->insertChip(socket, facts.type->name);
  }
}

void ProductionPanel::runOneSet() {
  Run& run = *run_;
  const int set = run.sets->setsRun() + 1;
  setRunning_ = true;
  stopAsked_ = false;
  asideLine_.clear();
  enableChoices(false);
  stopSet->setFocus();
  for (SocketRow& row : rows) {
    row.verdict->clear();
    row.verdict->setStyleSheet({});
  }
  verdict->setText("SET " + QString::number(set) + " RUNNING");
  paintVerdict(verdict, "#d8d8d8", "#202020");
  prompt->setText("Program Compare, Program, Verify. Alt+Q stops the set.");

  std::optional<tandra::SetOutcome> outcome;
  QString ended;
  try {
    putInBlankChips();
    if (const std::optional<tandra::SetShortfall> shortfall = run.sets->prepareSet()) {
      ended =
          text(shortfall->describe(run.plan->facts(session_))) + ": nothing was sent to the chips.";
    } else {
      ++setsRunHere_;
      outcome = run.sets->runSet(*this);
    }
  } catch (const std::exception& error) {
    // A ledger that can no longer be read or written, a lost file lock: the run cannot go on.
    ended = text(error.what());
  }
  tandra::ProductionPlan::releaseSockets(session_);
  if (stopAsked_) session_.resume();
  setRunning_ = false;
  if (outcome) {
    run.statistics.addSet(*outcome, outcome->elapsedMs);
    showOutcome(*outcome);
    logFailedChips(*outcome);
    if (!outcome->unlogged.empty()) {
      QStringList chips;
      for (const tandra::UnloggedChip& chip : outcome->unlogged) {
        chips << "set " + QString::number(chip.set) + " socket " + QString::number(chip.socket) +
                     (chip.serialNumber ? " (serial " + QString::number(*chip.serialNumber) + ")"
                                        : QString());
      }
      ended = "The log " + text(choices_.logPath) + " could not be written (" +
              text(outcome->logError) + "); not in it: " + chips.join(", ") + ".";
    } else if (!outcome->numbersError.empty()) {
      ended = text(outcome->numbersError) + ".";
    } else if (outcome->programmerLost) {
      ended = "The programmer stopped answering in set " + QString::number(set) +
              ": look for it again in the main window (Alt+R there).";
    } else if (outcome->stopped) {
      ended = "Set " + QString::number(set) + " was stopped: its chips were not all judged.";
    }
  } else {
    verdict->clear();
    verdict->setStyleSheet({});
    prompt->clear();
  }
  if (!ended.isEmpty()) {
    say(ended);
    finishRun(ended);
  }
  enableChoices(true);
  programSet->setFocus();
}

void ProductionPanel::showOutcome(const tandra::SetOutcome& outcome) {
  const QString set = "SET " + QString::number(outcome.set);
  QStringList failed;
  int inPlay = 0;
  for (const tandra::ChipVerdict& chip : outcome.chips) {
    if (!chip.counted()) continue;
    ++inPlay;
    if (!chip.passed()) failed << QString::number(chip.result.socket);
  }
  if (outcome.stopped) {
    verdict->setText(set + " STOPPED");
    paintVerdict(verdict, "#f2c200", "#000000");
  } else if (failed.isEmpty()) {
    verdict->setText("\u2714 " + set +
                     (inPlay == 1 ? ": PASSED" : ": ALL " + QString::number(inPlay) + " PASSED"));
    paintVerdict(verdict, "#1b6e2e", "#ffffff");
  } else {
    verdict->setText("\u2718 " + set + ": " + QString::number(failed.size()) + " OF " +
                     QString::number(inPlay) + " FAILED");
    paintVerdict(verdict, "#a4161a", "#ffffff");
  }
  asideLine_.clear();
  if (!failed.isEmpty()) {
    asideLine_ = QString(failed.size() == 1 ? "Socket " : "Sockets ") + failed.join(", ") +
                 " failed: put " + (failed.size() == 1 ? "it" : "them") + " aside.";
  }
  prompt->setText("Change the chips, then Enter" +
                  (asideLine_.isEmpty() ? QString() : "\n" + asideLine_));
}

void ProductionPanel::logFailedChips(const tandra::SetOutcome& outcome) {
  // The main window's labels keep their own words for the set's last operation ("Didn't
  // Verify"); its log names each failed chip by the step that failed first, as the panel does.
  // Newest on top: socket 1's line above socket 2's.
  for (auto chip = outcome.chips.rbegin(); chip != outcome.chips.rend(); ++chip) {
    if (!chip->counted() || chip->result.state != tandra::SocketResult::State::Failed) continue;
    session_.host().insertLogLine("set " + std::to_string(outcome.set) + ", socket " +
                                  std::to_string(chip->result.socket) + ": " +
                                  chip->result.describe());
  }
}

void ProductionPanel::finishRun(const QString& why) {
  if (!run_) return;
  const std::unique_ptr<Run> run = std::move(run_);
  // Counted numbers go on from where the run left them, so that the next run gives none of its
  // numbers again; a ledger holds its own next number.
  if (choices_.serial.on && choices_.serial.ledger.empty()) {
    if (const auto* counted = dynamic_cast<const tandra::SerialNumbers*>(run->plan->numbers())) {
      if (const std::optional<std::uint64_t> next = counted->firstNeverGiven()) {
        serialStart->setText(QString::number(*next));
      }
    }
  }
  QStringList lines;
  const tandra::RunStatistics& done = run->statistics;
  if (done.setsDone() + done.setsStopped() > 0) {
    for (const std::string& line : done.summary()) lines << text(line);
  }
  statistics->setText("Statistics of the run:\n" + lines.join("\n"));
  statistics->setVisible(!lines.isEmpty());
  fitToScreen();
  if (run->log) lastLog_ = {run->log->path(), run->linesLogged};
  // The failed chips are still to be put aside, whatever ended the run.
  prompt->setText(why + " Enter begins a new run." +
                  (asideLine_.isEmpty() ? QString() : "\n" + asideLine_));
}

bool ProductionPanel::mayGoOn() {
  return !stopAsked_;
}

void ProductionPanel::operationEnded(const tandra::OperationResult& result) {
  prompt->setText(prompt->text() + "\n" + text(result.operation) +
                  (result.stopped ? ": stopped" : ": done") + " (" +
                  text(tandra::durationText(result.elapsedMs)) + ")");
}

void ProductionPanel::chipJudged(int /*set*/, const tandra::ChipVerdict& chip) {
  const int socket = chip.result.socket;
  if (socket < 1 || socket > 5) return;
  QLabel* label = rows[static_cast<std::size_t>(socket - 1)].verdict;
  label->setText(chipText(chip));
  label->setToolTip(text(chip.result.describe()));
  if (chip.counted()) {
    label->setStyleSheet(chip.passed() ? "color: #006400; font-weight: bold"
                                       : "color: #8b0000; font-weight: bold");
  }
  if (run_ && run_->log && chip.counted() && chip.shortfall != tandra::Shortfall::NotLogged) {
    ++run_->linesLogged;
  }
}
