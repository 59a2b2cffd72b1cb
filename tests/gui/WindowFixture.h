#pragma once

#include <QListWidget>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "ScriptedDialogs.h"
#include "SkippingClock.h"
#include "gui/MainForm.h"
#include "gui/PopupList.h"
#include "sim/VirtualProgrammer.h"

// The window on a virtual programmer, its boxes and dialogs answered from a script.
class WindowFixture {
 protected:
  // A window shown and through its start-up search, which ends with the device list up.
  // `early` is given the window before it is shown, for hooks that look at it during start-up.
  std::unique_ptr<TMainForm> startWindow(tandra::VirtualProgrammer& programmer,
                                         TMainForm** early = nullptr) {
    auto form = std::make_unique<TMainForm>(programmer);
    form->setSettings(std::make_unique<QSettings>(settingsPath(), QSettings::IniFormat));
    if (early != nullptr) *early = form.get();
    auto dialogs =
        std::make_unique<ScriptedDialogs>(ScriptedDialogs::Record{&boxes_, &yesNo_, &files_});
    dialogs->onBox = [this] {
      if (onBox_) onBox_();
    };
    dialogs_ = dialogs.get();
    form->setDialogs(std::move(dialogs));
    form->show();
    QApplication::setActiveWindow(form.get());
    if (!QTest::qWaitFor([&] { return form->Device_Box->isVisible(); }, 5000)) {
      qWarning("the start-up search did not finish");
    }
    return form;
  }

  // The same, then back to the idle state, as after a device has been chosen.
  std::unique_ptr<TMainForm> startIdleWindow(tandra::VirtualProgrammer& programmer) {
    auto form = startWindow(programmer);
    form->workbench().states.IdleState();
    return form;
  }

  static void clickRow(QListWidget* list, int row) {
    const QRect rect = list->visualItemRect(list->item(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
  }

  // Each test starts as on the first run; windows started within one test share the file.
  QString settingsPath() const { return settingsFolder_.filePath("tandra-usb.conf"); }

  void resetScript() {
    QFile::remove(settingsPath());
    onBox_ = nullptr;
    boxes_.clear();
    yesNo_.clear();
    files_.clear();
  }

  QTemporaryDir settingsFolder_;
  SkippingClock clock_;
  QStringList boxes_;
  QQueue<bool> yesNo_;
  QQueue<QString> files_;
  ScriptedDialogs* dialogs_ = nullptr;
  std::function<void()> onBox_;
};
