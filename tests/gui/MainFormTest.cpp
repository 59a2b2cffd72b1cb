#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QtTest>
#include <algorithm>
#include <memory>

#include "WindowFixture.h"
#include "gui/KeyEntry.h"
#include "link/FirmwareUpdate.h"

using tandra::VirtualProgrammer;

class MainFormTest : public QObject, public WindowFixture {
  Q_OBJECT

 private slots:
  void init() { resetScript(); }

  void startUpFindsTheProgrammerAndAsksForTheDevice() {
    VirtualProgrammer programmer{clock_};
    auto form = startWindow(programmer);
    QCOMPARE(form->StaticText3->text(), QString("Usb Programmer Found - FirmWare Version 1.20"));
    QVERIFY(!form->Memo1->isVisible());
    QVERIFY(boxes_.isEmpty());
    QVERIFY(form->workbench().session.connected());
    QCOMPARE(form->Vpp_But->text(), QString("Vpp = 25"));
    QCOMPARE(form->Device->text(), QString("No Device"));
    // The start-up search sends the identify, the voltage and then the busy state's idle.
    QCOMPARE(programmer.packets().size(), std::size_t{3});
    QCOMPARE(programmer.packets()[1][0], std::uint8_t{0x90});
  }

  // Boxes that name no place of their own, and the window itself, stand in the middle of the
  // screen that holds the window, not in the middle of the window.
  void boxesWithoutAPlaceAndTheWindowAreCentredOnTheScreen() {
    VirtualProgrammer programmer{clock_};
    auto form = startWindow(programmer);
    const QPoint screenCentre = form->screen()->availableGeometry().center();
    QVERIFY((form->frameGeometry().center() - screenCentre).manhattanLength() <= 4);

    QWidget corner;
    corner.setGeometry(0, 0, 120, 90);
    corner.show();
    QtDialogs dialogs;
    for (const bool placed : {false, true}) {
      QRect shown;
      QTimer::singleShot(0, [&] {
        QWidget* box = QApplication::activeModalWidget();
        if (box == nullptr) return;
        shown = box->frameGeometry();
        box->close();
      });
      const std::optional<tandra::ScreenPoint> topLeft =
          placed ? std::optional<tandra::ScreenPoint>({375, 325}) : std::nullopt;
      dialogs.showBox(&corner, tandra::BoxKind::Warning, "Good Update...", topLeft);
      QVERIFY(!shown.isNull());
      if (placed) {
        QCOMPARE(shown.topLeft(), QPoint(375, 325));
      } else {
        QVERIFY2((shown.center() - screenCentre).manhattanLength() <= 4,
                 qPrintable(QString("box at %1,%2").arg(shown.x()).arg(shown.y())));
      }
    }
  }

  void busyStateDisablesAllEighteenButtonsAndShowsTheStartAddress() {
    VirtualProgrammer programmer{clock_};
    auto form = startWindow(programmer);
    for (QPushButton* button : form->buttons())
      QVERIFY2(!button->isEnabled(), qPrintable(button->objectName()));
    QCOMPARE(form->Quit_Func_But->text(), QString("&Quit = 0000"));
  }

  void idleStateWithoutProgrammerKeepsOperationButtonsDisabled() {
    VirtualProgrammer programmer{clock_};
    programmer.setDeviceCount(0);
    auto form = startWindow(programmer);
    QCOMPARE(boxes_, QStringList{"The Vasko Programmer Could Not Be Found...."});
    QCOMPARE(form->StaticText3->text(), QString("Looking For Programmer"));
    form->workbench().IdleState();
    for (QPushButton* button : form->buttons()) {
      const bool operation = button == form->Program_Eprom || button == form->Blank_Chk ||
                             button == form->Verify_Eprom || button == form->Move_Eprom ||
                             button == form->Prg_Compare || button == form->Vpp_But;
      QVERIFY2(button->isEnabled() != operation, qPrintable(button->objectName()));
    }
  }

  void quitCaptionShowsTheCurrentAddressWithAtLeastFourDigits() {
    VirtualProgrammer programmer{clock_};
    auto form = startWindow(programmer);
    auto& bench = form->workbench();
    bench.events.showAddress(0x7F);
    QCOMPARE(form->Quit_Func_But->text(), QString("&Quit = 007F"));
    bench.events.showAddress(0x1F800);
    QCOMPARE(form->Quit_Func_But->text(), QString("&Quit = 1F800"));
  }

  void clickOnTheStatusLineSearchesAgain() {
    VirtualProgrammer programmer{clock_};
    programmer.setDeviceCount(0);
    auto form = startWindow(programmer);
    programmer.setDeviceCount(1);
    QTest::mouseClick(form->StaticText3, Qt::LeftButton);
    QTRY_COMPARE(form->StaticText3->text(),
                 QString("Usb Programmer Found - FirmWare Version 1.20"));
    QVERIFY(form->Program_Eprom->isEnabled());
  }

  void statusLogTakesNewLinesAtTheTop() {
    VirtualProgrammer programmer{clock_};
    auto form = startWindow(programmer);
    form->clearLog();
    form->insertLogLine("first");
    form->insertLogLine("second");
    form->appendLogLine("last");
    QCOMPARE(form->Memo1->toPlainText(), QString("second\nfirst\nlast"));
  }

  void deviceDialogRunsFromTheButtonThroughBothListsToIdle() {
    VirtualProgrammer programmer{clock_};
    auto form = startWindow(programmer);
    clickRow(form->Device_Box, rowOf("27C256"));
    QVERIFY(!form->Device_Box->isVisible());
    QVERIFY(form->Num_Of_Devices->isVisible());
    QVERIFY(!form->Device->isEnabled());
    clickRow(form->Num_Of_Devices, 3);
    QVERIFY(!form->Num_Of_Devices->isVisible());
    QCOMPARE(form->Device->text(), QString("3 - 27C256"));
    QCOMPARE(form->End_Add->text(), QString("End Of Eprom=7FFF"));
    QVERIFY(form->Device_n[2]->isVisible());
    QVERIFY(!form->Device_n[3]->isVisible());
    for (QPushButton* button : form->buttons()) QVERIFY(button->isEnabled());

    QTest::mouseClick(form->Device, Qt::LeftButton);
    QVERIFY(form->Device_Box->isVisible());
    QVERIFY(!form->Device_n[0]->isVisible());
    QVERIFY(!form->Quit_Func_But->isEnabled());
    clickRow(form->Device_Box, blankRow());
    QCOMPARE(boxes_, QStringList{"No Device Was Selected."});
    QCOMPARE(form->Device->text(), QString("No Device"));
    QVERIFY(form->Quit_Func_But->isEnabled());
  }

  void fillListKeepsQuitDisabledUntilCancel() {
    VirtualProgrammer programmer{clock_};
    auto form = startIdleWindow(programmer);
    QTest::mouseClick(form->Fill, Qt::LeftButton);
    QVERIFY(form->FillBox->isVisible());
    QVERIFY(!form->Quit_Func_But->isEnabled());
    clickRow(form->FillBox, 3);
    QVERIFY(!form->FillBox->isVisible());
    QVERIFY(form->Quit_Func_But->isEnabled());
  }

  void typedFillByteGoesThroughTheEntry() {
    VirtualProgrammer programmer{clock_};
    auto form = startIdleWindow(programmer);
    QTest::mouseClick(form->Fill, Qt::LeftButton);
    clickRow(form->FillBox, 2);
    QVERIFY(form->FillEdit->isVisible());
    QTest::keyClicks(form->FillEdit, "ag");  // a wrong key empties the entry
    QCOMPARE(form->FillEdit->text(), QString());
    QTest::keyClicks(form->FillEdit, "5a");
    QCOMPARE(form->FillEdit->text(), QString("5A"));
    QTest::keyClick(form->FillEdit, Qt::Key_Return);
    QVERIFY(!form->FillEdit->isVisible());
    QCOMPARE(form->workbench().session.image()[0x3FFFF], std::uint8_t{0x5A});
  }

  void checksumRefreshShowsTheSumAndQuitAtTheStart() {
    VirtualProgrammer programmer{clock_};
    auto form = startIdleWindow(programmer);
    form->workbench().session.image().currentAddress = 0x123;
    QTest::mouseClick(form->Chk_Sum_But, Qt::LeftButton);
    QCOMPARE(form->Chk_Sum_But->text(), QString("CheckSum=0000"));
    QCOMPARE(form->Quit_Func_But->text(), QString("&Quit = 0000"));
  }

  void pulseEntryOpensWithoutTheBusyStateAndEnterCloses() {
    VirtualProgrammer programmer{clock_};
    auto form = startIdleWindow(programmer);
    QTest::mouseClick(form->Pulse, Qt::LeftButton);
    QVERIFY(form->P_Edit->isVisible());
    QVERIFY(form->Program_Eprom->isEnabled());
    QTest::keyClick(form->P_Edit, Qt::Key_Backspace);
    QTest::keyClicks(form->P_Edit, "12");
    QTest::keyClick(form->P_Edit, Qt::Key_Return);
    QCOMPARE(form->Pulse->text(), QString("Pulse = 12"));
    QVERIFY(!form->P_Edit->isVisible());
  }

  void duringAnOperationOnlyQuitIsEnabledAndItCountsThroughTheBlocks() {
    VirtualProgrammer programmer{clock_};
    auto form = startWindow(programmer);
    choose(*form, "27C256", 2);
    QStringList quitCaptions;
    QStringList enabledDuring;
    // Samples the window at every message pump inside the operation.
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, [&] {
      if (!form->StaticText2->isVisible()) return;  // not between start and end message
      if (quitCaptions.isEmpty() || quitCaptions.last() != form->Quit_Func_But->text()) {
        quitCaptions << form->Quit_Func_But->text();
      }
      for (QPushButton* button : form->buttons()) {
        if (button->isEnabled() && !enabledDuring.contains(button->objectName())) {
          enabledDuring << button->objectName();
        }
      }
    });
    sampler.start(0);
    QTest::mouseClick(form->Blank_Chk, Qt::LeftButton);
    sampler.stop();
    QCOMPARE(enabledDuring, QStringList{"Quit_Func_But"});
    QVERIFY(quitCaptions.size() >= 16);
    QCOMPARE(quitCaptions.mid(0, 3), (QStringList{"&Quit = 0000", "&Quit = 0800", "&Quit = 1000"}));
    QCOMPARE(form->StaticText3->text(), QString("Blank Test Done...."));
    QCOMPARE(form->Device_n[0]->text(), QString("1- Is Blank      "));
    QCOMPARE(form->Quit_Func_But->text(), QString("&Quit = 8000"));
    QVERIFY(form->Program_Eprom->isEnabled());
    QCOMPARE(programmer.violations(), std::vector<std::string>{});
  }

  void formatListSetsTheButtonAndTheDialogs() {
    VirtualProgrammer programmer{clock_};
    auto form = startIdleWindow(programmer);
    QTest::mouseClick(form->File_But, Qt::LeftButton);
    QVERIFY(form->File_Type->isVisible());
    QVERIFY(!form->Load_But->isEnabled());
    clickRow(form->File_Type, 2);
    QCOMPARE(form->File_But->text(), QString("Motorola Hex File"));
    QCOMPARE(form->fileFormatCode(), 2);
    QVERIFY(!form->File_Type->isVisible());
    QVERIFY(form->Load_But->isEnabled());
  }

  void loadShowsTheFileAndTheChecksumAndSaveWritesIt() {
    VirtualProgrammer programmer{clock_};
    auto form = startWindow(programmer);
    choose(*form, "2716");
    QTemporaryDir folder;
    const QString hexPath = folder.filePath("in.hex");
    QFile hex(hexPath);
    QVERIFY(hex.open(QIODevice::WriteOnly));
    hex.write(":0400000001020304F2\n:00000001FF\n");
    hex.close();
    QTest::mouseClick(form->File_But, Qt::LeftButton);
    clickRow(form->File_Type, 1);
    files_.enqueue(hexPath);
    QTest::mouseClick(form->Load_But, Qt::LeftButton);
    QVERIFY(boxes_.isEmpty());
    QCOMPARE(form->StaticText4->text(), "Last File Loaded in Buffer=" + hexPath);
    QCOMPARE(form->Chk_Sum_But->text(), QString("CheckSum=000A"));
    QVERIFY(!form->StaticText2->isVisible());

    const QString binPath = folder.filePath("out.bin");
    QTest::mouseClick(form->File_But, Qt::LeftButton);
    clickRow(form->File_Type, 0);
    files_.enqueue(binPath);
    QTest::mouseClick(form->Save_But, Qt::LeftButton);
    QFile bin(binPath);
    QVERIFY(bin.open(QIODevice::ReadOnly));
    const QByteArray saved = bin.readAll();
    QCOMPARE(saved.size(), 0x800);
    QCOMPARE(saved.left(4), QByteArray("\x01\x02\x03\x04"));
  }

  void aFailedLoadShowsTheMessageAndKeepsTheCaptions() {
    VirtualProgrammer programmer{clock_};
    auto form = startIdleWindow(programmer);
    QTemporaryDir folder;
    const QString badPath = folder.filePath("bad.hex");
    QFile bad(badPath);
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("0102\n01 02\n");
    bad.close();
    QTest::mouseClick(form->File_But, Qt::LeftButton);
    clickRow(form->File_Type, 3);
    files_ << badPath << folder.filePath("missing.hex");
    QTest::mouseClick(form->Load_But, Qt::LeftButton);
    QTest::mouseClick(form->Load_But, Qt::LeftButton);
    // The message, and under it the file it is about.
    QCOMPARE(boxes_, (QStringList{"'$ 0' is not a valid integer value.\n" + badPath,
                                  "File not found.\n" + folder.filePath("missing.hex")}));
    QCOMPARE(form->StaticText4->text(), QString("Last File Loaded in Buffer=No File Loaded"));
    QCOMPARE(form->Chk_Sum_But->text(), QString("&Check Sum=0000"));
    QVERIFY(!form->StaticText2->isVisible());
    QCOMPARE(form->workbench().session.image()[2],
             std::uint8_t{0x01});  // stored before the failure
    // A cancelled dialog still refreshes the checksum.
    QTest::mouseClick(form->Load_But, Qt::LeftButton);
    QCOMPARE(form->Chk_Sum_But->text(), QString("CheckSum=0001"));
  }

  // After a good update the restarting programmer is looked for until it answers, as
  // tandra-cli looks for it: no lost programmer, no Alt+R, and the update's log in view.
  void oldFirmwareIsOfferedAnUpdateThatEndsGood() {
    VirtualProgrammer programmer{clock_};
    programmer.setFirmwareVersion(1, 10);
    programmer.setRestartTakes(std::chrono::milliseconds(800));
    QTemporaryDir folder;
    const QString path = folder.filePath("update.bin");
    const std::vector<std::uint8_t> file = VirtualProgrammer::makeUpdateFile(20);
    QFile update(path);
    QVERIFY(update.open(QIODevice::WriteOnly));
    update.write(reinterpret_cast<const char*>(file.data()), static_cast<qint64>(file.size()));
    update.close();
    yesNo_ << true;
    files_ << path;
    // Behind the result box: every button shows it cannot be used, the bar the records, and the
    // log the check's bytes and what was expected and found.
    bool buttonsShownDisabled = false;
    QString bar;
    QString logShown;
    onBox_ = [&](TMainForm& shown) {
      buttonsShownDisabled = std::none_of(shown.buttons().begin(), shown.buttons().end(),
                                          [](QPushButton* b) { return b->isEnabled(); });
      if (shown.Progress->isVisible()) bar = shown.Progress->text();
      if (shown.Memo1->isVisible()) logShown = shown.Memo1->toPlainText();
    };
    auto form = startWindow(programmer);
    QCOMPARE(boxes_, (QStringList{"This Software Requires Firmware Version - 1.20\r\nDo You "
                                  "Want to Flash Update the Programmer ?",
                                  "Good Update..."}));
    QVERIFY(buttonsShownDisabled);
    QVERIFY2(bar.startsWith("record 20 of 20"), qPrintable(bar));
    QVERIFY(!form->Progress->isVisible());
    QCOMPARE(programmer.firmwareRecordsReceived(), 0);  // restarted
    QCOMPARE(programmer.restarts(), 1);
    QCOMPARE(form->StaticText3->text(), QString("Usb Programmer Found - FirmWare Version 1.20"));
    for (const QString& line : form->logLines()) {
      QVERIFY2(!line.startsWith("Device no longer present"), qPrintable(line));
    }
    QVERIFY(form->logLines().last().startsWith("Found    - "));
    QVERIFY2(logShown.contains("\nExpected - ") && logShown.contains("\nFound    - "),
             qPrintable(logShown));
    // The log stays up, beside the device list and not under it, until the operator's next
    // action.
    QVERIFY(form->Device_Box->isVisible());
    QVERIFY(form->Memo1->isVisible());
    QVERIFY(!form->Memo1->geometry().intersects(form->Device_Box->geometry()));
    QCOMPARE(form->Memo1->toPlainText(), form->logLines().join('\n'));
    const QTextBlock last = form->Memo1->document()->lastBlock();
    QVERIFY(last.text().startsWith("Found    - "));
    QVERIFY(form->Memo1->viewport()->rect().contains(
        form->Memo1->cursorRect(QTextCursor(last)).bottomLeft()));
    clickRow(form->Device_Box, rowOf("27C256"));
    QVERIFY(!form->Memo1->isVisible());
    clickRow(form->Num_Of_Devices, 1);
    // A new search finds the new version.
    QTest::mouseClick(form->StaticText3, Qt::LeftButton);
    QCOMPARE(form->StaticText3->text(), QString("Usb Programmer Found - FirmWare Version 1.20"));
  }

  void anUnreadableUpdateFileEndsTheSearchWithTheErrorBox() {
    VirtualProgrammer programmer{clock_};
    programmer.setFirmwareVersion(1, 19);
    yesNo_ << true;
    files_ << "/nonexistent/update.bin";
    TMainForm form(programmer);
    form.setDialogs(
        std::make_unique<ScriptedDialogs>(ScriptedDialogs::Record{&boxes_, &yesNo_, &files_}));
    form.show();
    QTRY_COMPARE(boxes_.size(), 2);
    QCOMPARE(boxes_.last(), QString("File not found.\n/nonexistent/update.bin"));
    for (const auto& packet : programmer.packets())
      QVERIFY(packet.size() == 8 && packet[0] != 0xAA);
    // The commands that follow go out at a command's length.
    const std::size_t sent = programmer.packets().size();
    form.workbench().BusyState();
    QCOMPARE(programmer.packets().size(), sent + 1);
    QCOMPARE(programmer.packets().back().size(), std::size_t{8});
  }

  void closingSendsIdleAndClosesTheIdentifiedProgrammer() {
    VirtualProgrammer programmer{clock_};
    auto form = startWindow(programmer);
    programmer.clearPackets();
    QVERIFY(form->close());
    QCOMPARE(programmer.closeCount(), 1);
    QCOMPARE(programmer.packets().size(), std::size_t{1});
    QCOMPARE(programmer.packets()[0][0], std::uint8_t{0x24});
  }

  void closingDuringAReplyWaitClosesOnlyAfterTheHandlerUnwound() {
    VirtualProgrammer programmer{clock_};
    auto form = startWindow(programmer);
    bool closedDuringWait = false;
    programmer.setReplyDelay(std::chrono::milliseconds(300));
    // The close arrives while the status-line search waits for the identify reply.
    QTimer::singleShot(50, form.get(), [&] {
      form->close();
      closedDuringWait = !programmer.isOpen() || form->isHidden();
    });
    QTest::mouseClick(form->StaticText3, Qt::LeftButton);
    QVERIFY(!closedDuringWait);
    QTRY_VERIFY(form->isHidden());
    QCOMPARE(programmer.closeCount(), 2);  // the search's reopen, then the close
    QVERIFY(!programmer.isOpen());
  }
};

QTEST_MAIN(MainFormTest)
#include "MainFormTest.moc"
