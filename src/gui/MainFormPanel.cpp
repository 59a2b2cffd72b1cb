// The window as the Panel its handlers and the core's events work on.
#include <QAbstractButton>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <cstdio>

#include "files/FileFormat.h"
#include "gui/KeyEntry.h"
#include "gui/MainForm.h"
#include "gui/PopupList.h"
#include "gui/SocketLabel.h"

using tandra::Control;

namespace {

// The time a running task has taken, as a clock shows it: "0:07", "2:05".
QString clockText(std::int64_t ms) {
  const std::int64_t seconds = std::max<std::int64_t>(ms, 0) / 1000;
  return QString("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar('0'));
}

}  // namespace

QPushButton* TMainForm::openerOf(const QWidget* popup) const {
  if (popup == Device_Box || popup == Num_Of_Devices) return Device;
  if (popup == File_Type) return File_But;
  if (popup == FillBox || popup == FillEdit) return Fill;
  if (popup == P_Edit) return Pulse;
  return nullptr;
}

QWidget* TMainForm::control(Control which) const {
  const std::string_view name = tandra::controlName(which);
  return findChild<QWidget*>(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
}

void TMainForm::processMessages() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TMainForm::waitForEvents(int milliseconds) {
  // The window sleeps in the system's wait for its events, woken by a timer of its own, instead
  // of asking again and again: a click or the watchdog is served the moment it comes.
  processMessages();
  if (milliseconds <= 0) return;
  waitTimer_->start(milliseconds);
  while (waitTimer_->isActive()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void TMainForm::startWatchdog() {
  Timer1->start();
}

void TMainForm::stopWatchdog() {
  Timer1->stop();
}

void TMainForm::sleepMs(int milliseconds) {
  QThread::msleep(static_cast<unsigned long>(milliseconds));
}

std::int64_t TMainForm::monotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void TMainForm::showLog() {
  Memo1->setPlainText(logLines_.join('\n'));
}

void TMainForm::insertLogLine(const std::string& text) {
  logLines_.prepend(QString::fromStdString(text));
  // An update's log held in view keeps its end (the check's bytes) in view as lines come on top.
  QScrollBar* bar = Memo1->verticalScrollBar();
  const bool keepEnd =
      workbench_.events.logHeld() && bar->maximum() > 0 && bar->value() == bar->maximum();
  showLog();
  if (keepEnd) bar->setValue(bar->maximum());
}

void TMainForm::placeLog() {
  // Beside the device list, in the room the hidden hex view leaves, not under the list.
  const bool besideTheList = workbench_.events.logHeld() && Device_Box->isVisible();
  Memo1->setGeometry(besideTheList ? QRect(144, 150, 236, 410) : QRect(200, 353, 397, 148));
}

void TMainForm::appendLogLine(const std::string& text) {
  logLines_.append(QString::fromStdString(text));
  showLog();
  // A line added at the end is in view, as one inserted at the top is (the firmware update's
  // check ends with what was expected and what was found).
  Memo1->verticalScrollBar()->setValue(Memo1->verticalScrollBar()->maximum());
}

void TMainForm::unexpected(const char* cause) {
  const std::string line = std::string(kUnexpectedErrorText) + " " + cause;
  workbench_.events.insertLogLine(line);  // into the trace as well
  Memo1->show();
  std::fprintf(stderr, "tandra-usb: %s\n", line.c_str());
  showBox(tandra::BoxKind::Error, kUnexpectedErrorText, std::nullopt);
}

void TMainForm::clearLog() {
  logLines_.clear();
  Memo1->clear();
}

void TMainForm::setCaption(Control which, const std::string& text) {
  QWidget* widget = control(which);
  const QString caption = QString::fromStdString(text);
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    button->setText(caption);
    if (button == Chk_Sum_But) keyCheckSumWhileCaptionHasNone();
  } else if (which == Control::StaticText4) {
    // A long path would run past the window's edge: its middle gives way, and the whole of it
    // is the hint.
    const int room = width() - StaticText4->x() - 10;
    StaticText4->setText(StaticText4->fontMetrics().elidedText(caption, Qt::ElideMiddle, room));
    StaticText4->setToolTip(caption);
    StaticText4->adjustSize();
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(caption);
    // The status line and the progress note grow with their text.
    if (which == Control::StaticText3 || which == Control::StaticText2) label->adjustSize();
  } else if (auto* entry = qobject_cast<QLineEdit*>(widget)) {
    entry->setText(caption);
  }
}

void TMainForm::setHint(Control which, const std::string& text) {
  if (QWidget* widget = control(which)) {
    widget->setToolTip(hintWithKey(widget, QString::fromStdString(text)));
  }
}

void TMainForm::setVisible(Control which, bool visible) {
  QWidget* widget = control(which);
  if (widget == nullptr || widget->isVisible() == visible) return;
  // The log of a firmware update stays up until the operator acts.
  if (which == Control::Memo1 && !visible && workbench_.events.logHeld()) return;
  QPushButton* opener = openerOf(widget);
  if (!visible && opener != nullptr && widget->hasFocus()) {
    // A closing pop-up hands the keyboard back to its button, never to whatever button comes
    // first in the window (a Space there could start Program); while that button is disabled
    // the hand-back waits for the buttons to be enabled.
    if (opener->isEnabled()) {
      opener->setFocus();
    } else {
      returnFocusTo_ = opener;
      widget->clearFocus();
    }
  }
  widget->setVisible(visible);
  // A list that comes up takes the keyboard, so that it can be answered with it.
  if (visible && qobject_cast<PopupList*>(widget) != nullptr) widget->setFocus();
  if (which == Control::Memo1 || which == Control::Device_Box) placeLog();
}

void TMainForm::setFocus(Control which) {
  QWidget* widget = control(which);
  if (widget == nullptr) return;
  widget->setFocus();
  // An entry given the focus this way has its text selected: typing replaces it.
  if (auto* entry = qobject_cast<KeyEntry*>(widget)) entry->selectAll();
}

void TMainForm::disableAllButtons() {
  // Disabling the focused button sends the keyboard elsewhere (into the log, or nowhere, so
  // that the next Tab lands on Program Device): it comes back when the work is done.
  if (startedBy_ != nullptr) returnFocusTo_ = startedBy_;
  for (QPushButton* button : buttons_) button->setEnabled(false);
}

void TMainForm::enableButtons(bool operationButtons) {
  if (holdBusy_) {
    heldEnabling_ = operationButtons;
    return;
  }
  if (operationButtons) {
    for (QPushButton* button :
         {Program_Eprom, Verify_Eprom, Prg_Compare, Move_Eprom, Blank_Chk, Vpp_But}) {
      button->setEnabled(true);
    }
  }
  for (QPushButton* button : {Quit_Func_But, Chk_Sum_But, Start_Buf_Add, Start_Add, Save_But,
                              Load_But, File_But, End_Add, Device, Pulse, Edit, Fill}) {
    button->setEnabled(true);
  }
  // A list, entry or hex view that has the keyboard keeps it: it hands it back as it closes.
  QWidget* focused = focusWidget();
  const bool openPopupHasIt = focused != nullptr && focused->isVisible() && focused->isEnabled() &&
                              qobject_cast<QPushButton*>(focused) == nullptr && focused != Memo1;
  if (returnFocusTo_ != nullptr && !openPopupHasIt) returnFocusTo_->setFocus();
  returnFocusTo_ = nullptr;
}

void TMainForm::showSocketLook(int socket, tandra::SocketLook look) {
  if (socket < 1 || socket > static_cast<int>(Device_n.size())) return;
  SocketLabel* label = Device_n[static_cast<std::size_t>(socket - 1)];
  // A verdict is read from across the bench: a failed chip is dark red and bold with a cross, a
  // passed one dark green and bold with a tick (the two colours are all but alike to a red-green
  // colour-blind eye). While the operation runs a label carries no verdict yet, whatever its
  // words say: grey italic. A socket left out is grey.
  using tandra::SocketLook;
  QColor text = this->palette().color(QPalette::WindowText);
  if (look == SocketLook::Failed) text = QColor(0x8B, 0x00, 0x00);
  if (look == SocketLook::Passed) text = QColor(0x00, 0x64, 0x00);
  if (look == SocketLook::Running || look == SocketLook::Skipped) text = QColor(0x4A, 0x4A, 0x4A);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, text);
  label->setPalette(palette);
  QFont font = label->font();
  font.setBold(look == SocketLook::Failed || look == SocketLook::Passed);
  font.setItalic(look == SocketLook::Running);
  label->setFont(font);
  label->setMark(look == SocketLook::Passed   ? SocketLabel::Mark::Passed
                 : look == SocketLook::Failed ? SocketLabel::Mark::Failed
                                              : SocketLabel::Mark::None);
}

void TMainForm::showProgress(const tandra::Progress& progress) {
  Progress->setRange(0, static_cast<int>(std::max<std::int64_t>(progress.total, 1)));
  Progress->setValue(static_cast<int>(progress.done));
  const QString elapsed = clockText(progress.elapsedMs);
  Progress->setFormat(progress.countsRecords ? QString("record %v of %m   ") + elapsed
                                             : QString("%p%   ") + elapsed);
}

void TMainForm::enableQuitButton() {
  Quit_Func_But->setEnabled(true);
}

void TMainForm::showBox(tandra::BoxKind kind, const std::string& text,
                        std::optional<tandra::ScreenPoint> topLeft) {
  dialogs_->showBox(dialogParent(), kind, QString::fromStdString(text), topLeft);
}

bool TMainForm::askYesNo(const std::string& text, std::optional<tandra::ScreenPoint> topLeft) {
  return dialogs_->askYesNo(dialogParent(), QString::fromStdString(text), topLeft);
}

std::optional<std::string> TMainForm::openFileDialog() {
  const QString name =
      dialogs_->openFileName(dialogParent(), dialogExtension_, dialogFilter_, true);
  if (name.isEmpty()) return std::nullopt;
  return name.toStdString();
}
