// The window's side of the Host seam.
#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include "gui/MainForm.h"

using tandra::Control;

QWidget* TMainForm::control(Control which) const {
  const std::string_view name = tandra::controlName(which);
  return findChild<QWidget*>(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
}

void TMainForm::processMessages() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
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

void TMainForm::showLog() {
  Memo1->setPlainText(logLines_.join('\n'));
}

void TMainForm::insertLogLine(const std::string& text) {
  logLines_.prepend(QString::fromStdString(text));
  showLog();
}

void TMainForm::appendLogLine(const std::string& text) {
  logLines_.append(QString::fromStdString(text));
  showLog();
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
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(caption);
    if (which == Control::StaticText3 || which == Control::StaticText4) label->adjustSize();
  } else if (auto* entry = qobject_cast<QLineEdit*>(widget)) {
    entry->setText(caption);
  }
}

void TMainForm::setVisible(Control which, bool visible) {
  if (QWidget* widget = control(which)) widget->setVisible(visible);
}

void TMainForm::setFocus(Control which) {
  if (QWidget* widget = control(which)) widget->setFocus();
}

void TMainForm::disableAllButtons() {
  for (QPushButton* button : buttons_) button->setEnabled(false);
}

void TMainForm::enableButtons(bool operationButtons) {
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
}

void TMainForm::enableQuitButton() {
  Quit_Func_But->setEnabled(true);
}

void TMainForm::showBox(tandra::BoxKind kind, const std::string& text,
                        std::optional<tandra::ScreenPoint> topLeft) {
  dialogs_->showBox(this, kind, QString::fromStdString(text), topLeft);
}

bool TMainForm::askYesNo(const std::string& text, std::optional<tandra::ScreenPoint> topLeft) {
  return dialogs_->askYesNo(this, QString::fromStdString(text), topLeft);
}

std::optional<std::string> TMainForm::openFileDialog() {
  const QString name = dialogs_->openFileName(this, dialogExtension_, dialogFilter_);
  if (name.isEmpty()) return std::nullopt;
  return name.toStdString();
}
