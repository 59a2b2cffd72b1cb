#pragma once

#include <QListWidget>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <memory>

#include "DeviceTypes.h"
#include "ScriptedDialogs.h"
#include "SkippingClock.h"
#include "gui/MainForm.h"
#include "gui/PopupList.h"
#include "gui/SocketLabel.h"
#include "sim/VirtualProgrammer.h"

using tandra::test::blankRow;
using tandra::test::rowOf;

// The window on a virtual programmer, its boxes and dialogs answered from a script.
class WindowFixture {
 protected:
  // A window shown and through its start-up search, which ends with the device list up.
  // `justShown` runs once the window is shown, before the search.
  std::unique_ptr<TMainForm> startWindow(
      tandra::VirtualProgrammer& programmer,
      const std::function<void(TMainForm&)>& justShown = nullptr) {
    auto form = std::make_unique<TMainForm>(programmer);
    form->setSettings(std::make_unique<QSettings>(settingsPath(), QSettings::IniFormat));
    auto dialogs =
        std::make_unique<ScriptedDialogs>(ScriptedDialogs::Record{&boxes_, &yesNo_, &files_});
    dialogs->onBox = [this](QWidget* parent) {
      if (onBox_) onBox_(*static_cast<TMainForm*>(parent));
    };
    dialogs_ = dialogs.get();
    form->setDialogs(std::move(dialogs));
    form->show();
    if (justShown) justShown(*form);
    QApplication::setActiveWindow(form.get());
    if (!QTest::qWaitFor([&] { return form->Device_Box->isVisible(); }, 5000)) {
      qWarning("the start-up search did not finish");
    }
    return form;
  }

  // The same, then back to the idle state, as after a device has been chosen.
  std::unique_ptr<TMainForm> startIdleWindow(tandra::VirtualProgrammer& programmer) {
    auto form = startWindow(programmer);
    form->workbench().IdleState();
    return form;
  }

  // A key as the operator presses it: it goes to whatever has the keyboard.
  static void press(Qt::Key key) {
    QWidget* focused = QApplication::focusWidget();
    QVERIFY(focused != nullptr);
    QTest::keyClick(focused, key);
  }

  static void clickRow(QListWidget* list, int row) {
    const QRect rect = list->visualItemRect(list->item(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
  }

  // The type named, in as many sockets, through the Device button.
  static void choose(TMainForm& form, std::string_view type, int sockets = 1) {
    form.Device->click();  // the very first choice has the list up already
    clickRow(form.Device_Box, rowOf(type));
    clickRow(form.Num_Of_Devices, sockets);
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
  // Runs while a box is up, with the window behind it; also during the start-up search.
  std::function<void(TMainForm&)> onBox_;
};
