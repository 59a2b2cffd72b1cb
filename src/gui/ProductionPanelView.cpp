// What the production panel shows: the main window's type, sockets and buffer, each socket's
// image and next serial number, the log, and the run's counters.
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "common/HexText.h"
#include "common/RunId.h"
#include "common/Words.h"
#include "device/Session.h"
#include "gui/MainForm.h"
#include "gui/ProductionPanel.h"
#include "image/Checksum.h"
#include "production/Digest.h"
#include "production/ProductionLog.h"
#include "production/SerialLedger.h"
#include "production/SessionFacts.h"

namespace {

QString text(const std::string& words) {
  return QString::fromStdString(words);
}

// A file's own name, its folder in the hint.
void showName(QLabel* label, const std::string& path) {
  label->setText(QFileInfo(text(path)).fileName());
  label->setToolTip(text(path));
}

void showInGrey(QLabel* label, const QString& words) {
  label->setText(words);
  label->setToolTip({});
  label->setStyleSheet("color: #5a5a5a");
}

std::string crc32Of(const tandra::ImageBuffer& image) {
  return tandra::crc32Hex(std::string_view(reinterpret_cast<const char*>(image.data()),
                                           static_cast<std::size_t>(image.deviceEndAddress) + 1));
}

const char* const kFormatWords[] = {"binary, low byte first", "binary, high byte first", "BCD",
                                    "ASCII digits"};

}  // namespace

void ProductionPanel::say(const QString& words, bool problem) {
  message->setText(words);
  message->setStyleSheet(problem ? "color: #8b0000; font-weight: bold" : "color: #004d00");
  saidOn_ = {basisNow(), session_.connected()};
}

void ProductionPanel::forgetStaleMessage() {
  if (message->text().isEmpty()) return;
  const SaidOn now{basisNow(), session_.connected()};
  if (!(now == saidOn_)) message->clear();
}

ProductionPanel::Basis ProductionPanel::basisNow() const {
  const tandra::SessionFacts facts = tandra::factsOf(session_);
  return {facts.type != nullptr ? facts.type->row() : -1, facts.socketCount, facts.inUse,
          form_.bufferFileName(), tandra::bufferChecksum(session_.image())};
}

BufferFile ProductionPanel::bufferFile() const {
  return {form_.bufferFileName(), form_.bufferStanding()};
}

// The numbers are read as tandra-cli reads its options: decimal, or hexadecimal after 0x.
bool ProductionPanel::readStartAndStep() {
  const tandra::UnsignedNumber start =
      tandra::parseWholeNumber(serialStart->text().trimmed().toStdString());
  if (!start) {
    say("The first serial number wants digits (or 0x and hexadecimal ones), up to "
        "18446744073709551615 (Alt+S).");
    return false;
  }
  choices_.serial.start = start.value;
  const tandra::UnsignedNumber step =
      tandra::parseWholeNumber(serialStep->text().trimmed().toStdString());
  if (!step || step.value == 0) {
    say("The step wants a whole number of 1 or more (Alt+T).");
    return false;
  }
  choices_.serial.step = step.value;
  return true;
}

bool ProductionPanel::takeSerialEntries() {
  SerialChoice& serial = choices_.serial;
  serial.on = numberChips->isChecked();
  serial.format = static_cast<tandra::SerialFormat>(serialFormat->currentIndex());
  serial.width = serialWidth->value();
  serial.ledger = ledgerPath->text().trimmed().toStdString();
  serial.reuseFailed = reuseFailed->isChecked();
  serial.perBoard = perBoard->isChecked() && choices_.lanes() > 0;
  choices_.logPath = logPath->text().trimmed().toStdString();
  choices_.logFormat = csvLog->isChecked() ? tandra::LogFormat::Csv : tandra::LogFormat::JsonLines;
  ledgerReadable_ = false;
  if (!serial.on) return true;
  const tandra::UnsignedNumber address =
      tandra::parseHexadecimal(serialAddress->text().trimmed().toStdString());
  if (!address || address.value > 0x7FFFFFFF) {
    say("Give the address the serial number goes to, in hexadecimal (Alt+A).");
    return false;
  }
  serial.address = static_cast<std::int32_t>(address.value);
  if (serial.ledger.empty()) return readStartAndStep();
  try {
    tandra::SerialLedger::read(serial.ledger);
    ledgerReadable_ = true;
  } catch (const tandra::LedgerError&) {
    // Said when the plan is made; the entries stay open for a ledger to be made from them.
  }
  return true;
}

void ProductionPanel::refresh() {
  if (refreshing_) return;
  refreshing_ = true;
  const tandra::SessionFacts facts = tandra::factsOf(session_);
  forgetStaleMessage();
  // A run ends when the main window's type, sockets or buffer move from those it began on.
  if (run_ && !setRunning_ && !(run_->basis == basisNow())) {
    finishRun("The main window's type, sockets or buffer changed, so the run ended.");
  }
  if (facts.type != nullptr) choices_.followChipEnd(facts.type->endAddress());
  const bool entriesRead = takeSerialEntries();
  preview_.reset();
  if (!run_ && facts.type != nullptr && entriesRead) {
    try {
      preview_ = choices_.plan(session_, bufferFile(), tandra::runId());
      // A problem with the choices goes once they are put right, wherever that was done.
      if (!previewProblem_.isEmpty() && message->text() == previewProblem_) say({});
      previewProblem_.clear();
    } catch (const std::exception& error) {
      previewProblem_ = text(error.what());
      say(previewProblem_);
    }
  }
  const tandra::ProductionPlan* plan = run_ ? run_->plan.get() : preview_.get();

  if (facts.type == nullptr) {
    sessionLine->setText(
        "Choose the device type and the number of sockets in the main window "
        "(Alt+D there).");
  } else if (facts.socketCount == 0) {
    sessionLine->setText(text(std::string(facts.type->name)) +
                         ": choose the number of sockets in the main window.");
  } else {
    QString line = text(std::string(facts.type->name)) + ", " + QString::number(facts.socketCount) +
                   (facts.socketCount == 1 ? " socket" : " sockets");
    QStringList leftOut;
    for (int socket = 1; socket <= facts.socketCount; ++socket) {
      if (!facts.socketInUse(socket)) leftOut << QString::number(socket);
    }
    if (!leftOut.isEmpty()) line += " (left out: " + leftOut.join(", ") + ")";
    line += facts.connected ? "   -   programmer ready"
                            : "   -   no programmer: Alt+R in the main window looks again";
    sessionLine->setText(line);
  }
  const BufferFile buffer = bufferFile();
  if (buffer.name.empty()) {
    showInGrey(bufferLine, "Buffer: no file loaded");
  } else {
    // Every file the buffer holds, newest first, by its own name; their folders in the hint.
    bufferLine->setText(text(session_.bufferName(true)));
    bufferLine->setText("Buffer: " + bufferLine->text() + "   CheckSum=" +
                        text(tandra::hexText(tandra::bufferChecksum(session_.image()), 4)) +
                        (buffer.standing.notes.empty()
                             ? ""
                             : "   (did not load cleanly: " + text(buffer.standing.notes) + ")"));
    bufferLine->setToolTip(text(buffer.name) + (buffer.standing.notes.empty()
                                                    ? QString()
                                                    : "\n" + text(buffer.standing.notes)));
    bufferLine->setStyleSheet({});
  }
  const std::optional<PanelImageFile>& bus = choices_.splitFile();
  if (choices_.lanes() == 0) {
    showInGrey(busLine, {});
  } else if (!bus) {
    showInGrey(busLine, "no bus file yet (Alt+B)");
  } else {
    showName(busLine, bus->path);
    if (!bus->error.empty()) {
      busLine->setText(busLine->text() + ": " + text(bus->error));
      busLine->setToolTip(text(bus->path + ": " + bus->error));
    }
    busLine->setStyleSheet(bus->error.empty() ? "" : "color: #8b0000");
  }
  showSocketRows(facts, plan);
  showNextNumbers(plan);
  showLogLine();
  showCounters();
  enableChoices(!setRunning_);
  refreshing_ = false;
}

void ProductionPanel::showSocketRows(const tandra::SessionFacts& facts,
                                     const tandra::ProductionPlan* plan) {
  std::array<std::optional<std::uint64_t>, 5> numbers{};
  if (plan != nullptr) {
    try {
      numbers = plan->upcomingBySocket(session_);
    } catch (const std::exception& error) {
      say(text(error.what()));
    }
  }
  for (int socket = 1; socket <= 5; ++socket) {
    SocketRow& row = rows[static_cast<std::size_t>(socket - 1)];
    for (QLabel* label : {row.image, row.checksum, row.crc, row.serial}) {
      label->clear();
      label->setStyleSheet({});
    }
    if (facts.type == nullptr || socket > facts.socketCount) {
      showInGrey(row.image, "not in use");
      continue;
    }
    if (!facts.socketInUse(socket)) {
      showInGrey(row.image, "left out in the main window (Alt+" + QString::number(socket) + ")");
      continue;
    }
    const std::optional<PanelImageFile>& own = choices_.socketFile(socket);
    if (choices_.lanes() == 0 && own && !own->error.empty()) {
      showName(row.image, own->path);
      row.image->setText(row.image->text() + ": " + text(own->error));
      row.image->setToolTip(text(own->path + ": " + own->error));
      row.image->setStyleSheet("color: #8b0000");
      continue;
    }
    const tandra::ImageBuffer* image = plan != nullptr ? plan->ownImage(socket) : nullptr;
    const std::string name = plan != nullptr ? plan->imageNameOf(socket) : std::string();
    if (image == nullptr && name.empty()) {
      showInGrey(row.image, "no image: Alt+L or Alt+" + QString::number(socket));
      continue;
    }
    const tandra::ImageBuffer& shown = image != nullptr ? *image : session_.image();
    showName(row.image, name);
    if (image == nullptr) row.image->setText("buffer: " + text(session_.bufferName(true)));
    row.checksum->setText(text(tandra::hexText(tandra::bufferChecksum(shown), 4)));
    row.crc->setText(text(crc32Of(shown)));
    const std::optional<std::uint64_t>& number = numbers[static_cast<std::size_t>(socket - 1)];
    if (number) row.serial->setText(QString::number(*number));
  }
}

void ProductionPanel::showNextNumbers(const tandra::ProductionPlan* plan) {
  if (!choices_.serial.on) {
    nextNumbers->setText("The chips are not numbered.");
    return;
  }
  QString words;
  if (ledgerReadable_) {
    try {
      const tandra::LedgerState ledger = tandra::SerialLedger::read(choices_.serial.ledger);
      words = "Ledger: " + QString(kFormatWords[static_cast<int>(ledger.format)]) + ", " +
              (ledger.width > 0 ? QString::number(ledger.width) + " bytes" : "its own width") +
              ", step " + QString::number(ledger.step) + ". ";
    } catch (const tandra::LedgerError& error) {
      words = text(error.what()) + ". ";
    }
  } else if (!choices_.serial.ledger.empty()) {
    words = "No ledger there yet: Make ledger (Alt+M) starts one at the first number. ";
  }
  QStringList upcoming;
  if (plan != nullptr) {
    try {
      for (const std::uint64_t number : plan->upcomingNumbers(session_)) {
        upcoming << QString::number(number);
      }
    } catch (const std::exception& error) {
      words += text(error.what()) + ". ";
    }
  }
  // A ledger's numbers are reserved as the set starts: another station may take these first,
  // and the set's rows then show the ones its chips got.
  const QString next = choices_.serial.ledger.empty()
                           ? "Next serial numbers: "
                           : "Next serial numbers, unless another station takes them first: ";
  nextNumbers->setText(words + (upcoming.isEmpty() ? QString() : next + upcoming.join(", ") + "."));
}

void ProductionPanel::showLogLine() {
  if (run_ && run_->log) {
    logLine->setText(
        "Log in use: " + text(run_->log->path()) +
        (run_->log->format() == tandra::LogFormat::Csv ? " (CSV), " : " (JSON lines), ") +
        QString::number(run_->linesLogged) + " lines written in this run.");
  } else if (!choices_.logPath.empty() && lastLog_ && lastLog_->path == choices_.logPath) {
    logLine->setText("Log: " + text(lastLog_->path) + ", " + QString::number(lastLog_->lines) +
                     " lines written by the last run; the next appends to it.");
  } else if (!choices_.logPath.empty()) {
    logLine->setText("Log: " + text(choices_.logPath) +
                     ", opened when the run's first set starts.");
  } else {
    logLine->setText("No log: name a file to keep one line for each chip.");
  }
}

void ProductionPanel::showCounters() {
  if (!run_) {
    if (counters->text().isEmpty()) counters->setText("No set has run yet.");
    return;  // the last run's counts stay until the next run begins
  }
  const tandra::RunStatistics& tally = run_->statistics;
  const tandra::RunStatistics::Tally& chips = tally.chips();
  QStringList lines;
  QString sets = "Sets: " + QString::number(tally.setsDone()) + " done";
  if (tally.setsStopped() > 0) sets += ", " + QString::number(tally.setsStopped()) + " stopped";
  lines << sets;
  QString chipsLine = "Chips: " + QString::number(chips.passed) + " passed, " +
                      QString::number(chips.failed) + " failed";
  if (chips.stopped > 0) chipsLine += ", " + QString::number(chips.stopped) + " not judged";
  lines << chipsLine;
  for (int socket = 1; socket <= 5; ++socket) {
    const tandra::RunStatistics::Tally& one = tally.socket(socket);
    if (one.passed + one.failed + one.stopped == 0) continue;
    lines << QString("Socket %1: %2 passed, %3 failed").arg(socket).arg(one.passed).arg(one.failed);
  }
  counters->setText(lines.join("\n"));
}

void ProductionPanel::enableChoices(bool enabled) {
  const bool split = choices_.lanes() > 0;
  const bool numbering = numberChips->isChecked();
  for (QWidget* control : std::initializer_list<QWidget*>{
           loadBuffer, lanes, numberChips, logPath, chooseLog, csvLog, programSet, closePanel}) {
    control->setEnabled(enabled);
  }
  for (SocketRow& row : rows) row.file->setEnabled(enabled && !split);
  clearFiles->setEnabled(enabled && !split);
  busFile->setEnabled(enabled && split);
  for (QWidget* control : std::initializer_list<QWidget*>{serialAddress, ledgerPath, chooseLedger,
                                                          makeLedger, reuseFailed}) {
    control->setEnabled(enabled && numbering);
  }
  for (QWidget* control :
       std::initializer_list<QWidget*>{serialFormat, serialWidth, serialStart, serialStep}) {
    control->setEnabled(enabled && numbering && !ledgerReadable_);
  }
  perBoard->setEnabled(enabled && numbering && split);
  endRun->setEnabled(enabled && run_ != nullptr);
  stopSet->setEnabled(setRunning_);
}
