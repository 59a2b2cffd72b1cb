// The window as a new operator meets it: where the keyboard goes, what can be read, and what it
// shows of long work.
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>
#include <cmath>

#include "WindowFixture.h"
#include "gui/KeyEntry.h"

using tandra::VirtualProgrammer;

namespace {

// Contrast of two colours as the accessibility guidelines reckon it (1 to 21).
double contrast(const QColor& a, const QColor& b) {
  const auto luminance = [](const QColor& c) {
    const auto linear = [](double v) {
      return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
  };
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// A key as the operator presses it: it goes to whatever has the keyboard.
void press(Qt::Key key) {
  QWidget* focused = QApplication::focusWidget();
  QVERIFY(focused != nullptr);
  QTest::keyClick(focused, key);
}

int programCommands(const VirtualProgrammer& programmer) {
  int n = 0;
  for (const auto& packet : programmer.packets()) n += packet[0] == 0x43;
  return n;
}

}  // namespace

class WindowTest : public QObject, public WindowFixture {
  Q_OBJECT

 private slots:
  void init() { resetScript(); }

  void hiddenListsTakeNoKeysAndTheKeyboardFollowsThePopups() {
    VirtualProgrammer programmer{clock_};
    auto form = startWindow(programmer);
    QCOMPARE(QApplication::focusWidget(), form->Device_Box);
    form->Device_Box->setCurrentRow(17);  // 27C256
    press(Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), form->Num_Of_Devices);

    // Keys meant for the count list, and keys sent to the hidden device list itself, leave
    // the device type alone.
    QTest::keyClick(form->Device_Box, Qt::Key_Down);
    QTest::keyClick(form->Device_Box, Qt::Key_Return);
    press(Qt::Key_Down);
    press(Qt::Key_Down);
    press(Qt::Key_Return);
    QVERIFY(form->Device->text().endsWith(" - 27C256"));
    QCOMPARE(form->End_Add->text(), QString("End Of Eprom=7FFF"));
    QCOMPARE(form->workbench().settings.deviceFamily, 4);

    // Back in the idle state the keyboard is on the button that opened the lists: a Space
    // opens them again and starts nothing.
    QCOMPARE(QApplication::focusWidget(), form->Device);
    programmer.clearPackets();
    press(Qt::Key_Space);
    QVERIFY(form->Device_Box->isVisible());
    form->Device_Box->setCurrentRow(3);  // an empty row: no device, and idle at once
    press(Qt::Key_Return);
    QCOMPARE(boxes_, QStringList{"No Device Was Selected."});
    QCOMPARE(QApplication::focusWidget(), form->Device);
    QCOMPARE(programCommands(programmer), 0);
  }

  void everyPopupHandsTheKeyboardBackToItsButton() {
    VirtualProgrammer programmer{clock_};
    auto form = startIdleWindow(programmer);
    const struct {
      QPushButton* opener;
      QListWidget* list;
      int row;
    } popups[] = {{form->File_But, form->File_Type, 2}, {form->Fill, form->FillBox, 3}};
    for (const auto& popup : popups) {
      popup.opener->setFocus();
      press(Qt::Key_Space);
      QCOMPARE(QApplication::focusWidget(), popup.list);
      popup.list->setCurrentRow(popup.row);
      press(Qt::Key_Return);
      QVERIFY(!popup.list->isVisible());
      QCOMPARE(QApplication::focusWidget(), popup.opener);
    }
    QCOMPARE(form->File_But->text(), QString("Motorola Hex File"));
    QCOMPARE(programCommands(programmer), 0);
  }

  void thePulseEntryOpensWithItsTextSelected() {
    VirtualProgrammer programmer{clock_};
    auto form = startIdleWindow(programmer);
    form->workbench().selection.Device_BoxClick(17);  // 27C256: 5
    form->workbench().selection.Num_Of_DevicesClick(1);
    QTest::mouseClick(form->Pulse, Qt::LeftButton);
    QCOMPARE(form->P_Edit->selectedText(), QString("5"));
    press(Qt::Key_1);
    press(Qt::Key_Return);
    QCOMPARE(form->Pulse->text(), QString("Pulse = 1"));
    QCOMPARE(QApplication::focusWidget(), form->Pulse);

    QTest::mouseClick(form->Pulse, Qt::LeftButton);
    QTest::keyClicks(QApplication::focusWidget(), "10");
    press(Qt::Key_Return);
    QCOMPARE(form->Pulse->text(), QString("Pulse = 10"));
    QVERIFY(boxes_.isEmpty());
  }

  void longTextsShowWholeOrElideTheirMiddle() {
    VirtualProgrammer programmer{clock_};
    auto form = startIdleWindow(programmer);
    form->setCaption(tandra::Control::StaticText2, "Checking to see if Device is erased....");
    QVERIFY(form->StaticText2->width() >= form->StaticText2->sizeHint().width());

    const std::string path = "/home/bench/" + std::string(300, 'd') + "/rom-v2.hex";
    form->setCaption(tandra::Control::StaticText4, "Last File Loaded in Buffer=" + path);
    QVERIFY(form->StaticText4->geometry().right() < form->width());
    QVERIFY(form->StaticText4->text().startsWith("Last File Loaded in Buffer=/home"));
    QVERIFY(form->StaticText4->text().endsWith("rom-v2.hex"));
    QVERIFY(form->StaticText4->text().contains(QChar(0x2026)));
    QCOMPARE(form->StaticText4->toolTip(),
             QString::fromStdString("Last File Loaded in Buffer=" + path));
  }

  void yellowCaptionsAreReadable() {
    VirtualProgrammer programmer{clock_};
    auto form = startIdleWindow(programmer);
    for (QPushButton* button : {form->Blank_Chk, form->Device}) {
      const QPalette& palette = button->palette();
      QCOMPARE(palette.color(QPalette::Active, QPalette::ButtonText), QColor(Qt::yellow));
      QVERIFY2(contrast(palette.color(QPalette::Button),
                        palette.color(QPalette::Active, QPalette::ButtonText)) >= 4.5,
               qPrintable(button->objectName()));
    }
  }

  void aFailingSocketStandsOutUntilItPassesAgain() {
    VirtualProgrammer programmer{clock_};
    auto form = startIdleWindow(programmer);
    form->workbench().selection.Device_BoxClick(17);
    form->workbench().selection.Num_Of_DevicesClick(3);
    programmer.chip(2).cells()[0x100] = 0x00;
    QTest::mouseClick(form->Blank_Chk, Qt::LeftButton);
    QLabel* good = form->Device_n[0];
    QLabel* bad = form->Device_n[1];
    QCOMPARE(bad->text(), QString("2-Is Not Blank"));
    QVERIFY(bad->font().bold());
    QVERIFY(!good->font().bold());
    QVERIFY(contrast(bad->palette().color(QPalette::WindowText),
                     bad->palette().color(QPalette::Window)) >= 4.5);
    QVERIFY(bad->palette().color(QPalette::WindowText) !=
            good->palette().color(QPalette::WindowText));

    programmer.chip(2).erase();
    QTest::mouseClick(form->Blank_Chk, Qt::LeftButton);
    QVERIFY(!bad->font().bold());
    QCOMPARE(bad->palette().color(QPalette::WindowText),
             good->palette().color(QPalette::WindowText));
  }

  void smallTextsTellWhatToDo() {
    VirtualProgrammer absent{clock_};
    absent.setDeviceCount(0);
    auto form = startWindow(absent);
    QCOMPARE(form->StaticText3->toolTip(), QString("Click to look for the programmer again"));

    form->workbench().states.IdleState();
    QTest::mouseClick(form->File_But, Qt::LeftButton);
    clickRow(form->File_Type, 2);  // Motorola Hex
    QTest::mouseClick(form->Load_But, Qt::LeftButton);
    QVERIFY(dialogs_->lastOpenOfferedSRecords);
    QVERIFY(fileDialogFilters(true)[1].contains("*.s19 *.s28 *.s37 *.srec *.mot"));
    QVERIFY(!fileDialogFilters(false)[1].contains("*.s19"));

    VirtualProgrammer present{clock_};
    auto found = startWindow(present);
    QCOMPARE(found->StaticText3->toolTip(), QString());
  }

  void longWorkShowsItsProgressAndTime() {
    VirtualProgrammer programmer{clock_};
    auto form = startIdleWindow(programmer);
    form->workbench().selection.Device_BoxClick(17);
    form->workbench().selection.Num_Of_DevicesClick(2);
    QList<int> values;
    bool shownWithText = false;
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, [&] {
      if (!form->Progress->isVisible()) return;
      values << form->Progress->value();
      shownWithText = shownWithText || form->Progress->text().contains("%   0:0");
    });
    sampler.start(0);
    QTest::mouseClick(form->Blank_Chk, Qt::LeftButton);
    sampler.stop();
    QVERIFY(!values.isEmpty());
    QVERIFY(shownWithText);
    QCOMPARE(form->Progress->maximum(), 0x8000);
    QCOMPARE(form->Progress->value(), 0x8000);  // the end reached
    QVERIFY(std::is_sorted(values.begin(), values.end()));
    QVERIFY(!form->Progress->isVisible());
    QCOMPARE(form->Quit_Func_But->text(), QString("&Quit = 8000"));
    QCOMPARE(form->StaticText3->text(), QString("Blank Test Done...."));
    QVERIFY(form->Memo1->isVisible());
    QVERIFY(form->Memo1->toPlainText().startsWith("Blank Check took "));
    QCOMPARE(programmer.violations(), std::vector<std::string>{});
  }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
