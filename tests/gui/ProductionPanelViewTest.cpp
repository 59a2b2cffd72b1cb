// The production panel as an operator sees it: where it stands and what fits a small screen,
// where the keyboard goes, what its messages and the log call the buffer, and when a message
// no longer holds.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

#include "PanelFixture.h"
#include "gui/HexViewWidget.h"

class ProductionPanelViewTest : public QObject, public PanelFixture {
  Q_OBJECT

 private slots:
  void init() { resetScript(); }

  // The panel's Load buffer reads the file by its content, as a dropped file is read, whatever
  // format the main window has chosen; and the keyboard comes back to the panel, whose Alt keys
  // are the ones the operator is using (Alt+1 there is socket 1's file, in the main window it
  // would leave socket 1 out).
  void thePanelsLoadReadsByContentAndGivesTheKeyboardBack() {
    QTemporaryDir folder;
    const QString hex = folder.filePath("image.hex");
    writeFile(hex, ":040000001122334452\n:00000001FF\n");
    const QString own = folder.filePath("socket1.bin");
    writeFile(own, QByteArray(0x8000, '\x5A'));
    VirtualProgrammer programmer{clock_};
    auto form = startWindow(programmer);
    clickRow(form->Device_Box, listRow("27C256"));
    clickRow(form->Num_Of_Devices, 2);
    QCOMPARE(form->File_But->text(), QString("Binary File"));
    ProductionPanel* panel = openPanel(*form);
    QVERIFY(panel != nullptr);
    files_.enqueue(hex);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_L, Qt::AltModifier);
    QVERIFY(QTest::qWaitFor([&] { return files_.isEmpty(); }, 2000));
    QTRY_COMPARE(QApplication::activeWindow(), panel);
    QCOMPARE(form->workbench().session.image()[0], std::uint8_t{0x11});
    QCOMPARE(form->workbench().session.image()[3], std::uint8_t{0x44});
    QVERIFY(dialogs_->lastOpenParent == panel);

    files_.enqueue(own);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_1, Qt::AltModifier);
    QVERIFY(QTest::qWaitFor([&] { return files_.isEmpty(); }, 2000));
    QVERIFY2(panel->rows[0].image->text().contains("socket1.bin"),
             qPrintable(panel->rows[0].image->text()));
    QVERIFY(form->Device_n[0]->text().isEmpty());  // not left out
    QCOMPARE(QApplication::activeWindow(), panel);
  }

  // After End run, a failed set's words and the run's statistics are all in view on a
  // 1366x768 screen: the panel can be made as small as such a screen leaves it (a title bar, a
  // task bar), and then nothing it shows is cut.
  void aRunsEndIsInViewOnA1366By768Screen() {
    QTemporaryDir folder;
    const QString image = folder.filePath("image.bin");
    const QByteArray bytes = randomImage();
    writeFile(image, bytes);
    int bit = 0;
    while ((static_cast<unsigned char>(bytes[0x100]) >> bit & 1) == 0) ++bit;
    VirtualProgrammer programmer{clock_};
    auto form = startWindow(programmer);
    clickRow(form->Device_Box, listRow("27C256"));
    clickRow(form->Num_Of_Devices, 5);
    ProductionPanel* panel = openPanel(*form);
    QVERIFY(panel != nullptr);
    files_.enqueue(image);
    panel->loadBuffer->click();
    panel->numberChips->setChecked(true);
    panel->serialAddress->setText("7FF0");
    panel->logPath->setText(folder.filePath("fit.log"));
    changeChips(programmer, 2, bit);
    QTest::keyClick(panel, Qt::Key_Return);
    QVERIFY(panel->prompt->text().contains("Socket 3 failed: put it aside."));
    panel->endRun->click();
    QVERIFY(panel->statistics->isVisible());
    QVERIFY(panel->prompt->text().contains("Socket 3 failed: put it aside."));

    const QSize room(1366 - 16, 768 - 70);
    panel->resize(room);
    QApplication::processEvents();
    QVERIFY2(panel->height() <= room.height() && panel->width() <= room.width(),
             qPrintable(QString("%1 x %2").arg(panel->width()).arg(panel->height())));
    for (QLabel* shown : {panel->verdict, panel->prompt, panel->statistics, panel->sessionLine}) {
      QVERIFY2(shown->visibleRegion().boundingRect() == shown->rect(), qPrintable(shown->text()));
      QVERIFY2(shown->height() >= shown->heightForWidth(shown->width()), qPrintable(shown->text()));
    }
  }

  // Both windows in view where the screen has room for them side by side (this test's screen
  // is 1920x1080): the panel opens beside the main window, not over its status log.
  void thePanelOpensBesideTheMainWindow() {
    VirtualProgrammer programmer{clock_};
    auto form = startWindow(programmer);
    clickRow(form->Device_Box, listRow("27C256"));
    clickRow(form->Num_Of_Devices, 2);
    ProductionPanel* panel = openPanel(*form);
    QVERIFY(panel != nullptr);
    const QRect screen = form->screen()->availableGeometry();
    QCOMPARE(screen.size(), QSize(1920, 1080));
    QTRY_VERIFY2(!panel->frameGeometry().intersects(form->frameGeometry()),
                 qPrintable(QString("main %1,%2 %3x%4, panel %5,%6 %7x%8")
                                .arg(form->frameGeometry().x())
                                .arg(form->frameGeometry().y())
                                .arg(form->frameGeometry().width())
                                .arg(form->frameGeometry().height())
                                .arg(panel->frameGeometry().x())
                                .arg(panel->frameGeometry().y())
                                .arg(panel->frameGeometry().width())
                                .arg(panel->frameGeometry().height())));
    QVERIFY(screen.contains(panel->frameGeometry()));
    QVERIFY(screen.contains(form->frameGeometry()));
  }

  // The panel asked for at start-up (--production) opens once the device list and the socket
  // count are answered: it never stands over a list that must be answered first.
  void thePanelAskedForAtStartUpWaitsForTheDeviceList() {
    VirtualProgrammer programmer{clock_};
    auto form = startWindow(programmer, [](TMainForm& shown) { shown.openProductionPanel(); });
    QVERIFY(form->Device_Box->isVisible());
    QVERIFY(form->productionPanel() == nullptr || !form->productionPanel()->isVisible());
    clickRow(form->Device_Box, listRow("27C256"));
    QVERIFY(form->productionPanel() == nullptr || !form->productionPanel()->isVisible());
    clickRow(form->Num_Of_Devices, 2);
    QTRY_VERIFY(form->productionPanel() != nullptr && form->productionPanel()->isVisible());
  }

  // The buffer holds what every load left: a short file over a long one is both, and the log
  // says so, as it says that bytes were edited; the hash is of what the chip holds.
  void theLogNamesEveryFileTheBufferHolds() {
    QTemporaryDir folder;
    const QString a = folder.filePath("A.bin");
    const QString b = folder.filePath("B.bin");
    writeFile(a, QByteArray(0x8000, '\x11'));
    writeFile(b, QByteArray(0x100, '\x22'));
    VirtualProgrammer programmer{clock_};
    auto form = startWindow(programmer);
    form->setVirtualProgrammer(&programmer);
    clickRow(form->Device_Box, listRow("27C256"));
    clickRow(form->Num_Of_Devices, 1);
    ProductionPanel* panel = openPanel(*form);
    QVERIFY(panel != nullptr);
    files_ << a << b;
    panel->loadBuffer->click();
    panel->loadBuffer->click();
    QVERIFY2(panel->bufferLine->text().startsWith("Buffer: B.bin over A.bin"),
             qPrintable(panel->bufferLine->text()));
    panel->logPath->setText(folder.filePath("names.log"));
    QTest::keyClick(panel, Qt::Key_Return);
    QVERIFY2(panel->verdict->text().contains("PASSED"), qPrintable(panel->verdict->text()));
    QCOMPARE(programmer.chip(1).cells()[0x100], std::uint8_t{0x11});

    // A byte typed in the hex view.
    QApplication::setActiveWindow(form.get());
    QTest::mouseClick(form->Edit, Qt::LeftButton);
    QTest::keyClicks(form->Edit_1, "33");
    QTest::keyClick(form->Edit_1, Qt::Key_Escape);
    QCOMPARE(form->workbench().session.image()[0], std::uint8_t{0x33});
    QApplication::setActiveWindow(panel);
    QTest::keyClick(panel, Qt::Key_Return);
    QVERIFY2(panel->verdict->text().contains("PASSED"), qPrintable(panel->verdict->text()));

    const std::vector<nlohmann::json> lines = linesOf(folder.filePath("names.log"));
    QCOMPARE(lines.size(), std::size_t{2});
    QCOMPARE(lines[0]["image"]["name"], nlohmann::json((b + " over " + a).toStdString()));
    QCOMPARE(lines[1]["image"]["name"],
             nlohmann::json(("edits over " + b + " over " + a).toStdString()));
  }

  // What the panel said goes once it no longer holds: a refusal for want of an image once an
  // image is loaded, an unclean image's once a clean one is, a serial number's that would
  // overwrite the image once the image leaves room for it. None ends in two periods.
  void messagesGoOnceTheyNoLongerHold() {
    QTemporaryDir folder;
    const QString image = folder.filePath("image.bin");
    writeFile(image, randomImage());
    const QString tooLong = folder.filePath("long.bin");
    writeFile(tooLong, QByteArray(0x8100, '\xA5'));
    const QString erased = folder.filePath("erased.bin");
    writeFile(erased, QByteArray(0x8000, '\xFF'));
    VirtualProgrammer programmer{clock_};
    auto form = startWindow(programmer);
    clickRow(form->Device_Box, listRow("27C256"));
    clickRow(form->Num_Of_Devices, 1);
    ProductionPanel* panel = openPanel(*form);
    QVERIFY(panel != nullptr);

    const auto saysThenLoadClears = [&](const QString& said, const QString& cleanFile) {
      QVERIFY2(panel->message->text().contains(said),
               qPrintable(said + ": " + panel->message->text()));
      QVERIFY2(!panel->message->text().contains(".."), qPrintable(panel->message->text()));
      files_ << cleanFile;
      panel->loadBuffer->click();
      QVERIFY2(panel->message->text().isEmpty(), qPrintable(panel->message->text()));
    };
    QTest::keyClick(panel, Qt::Key_Return);
    saysThenLoadClears("socket 1 has no image", image);

    files_ << tooLong;
    panel->loadBuffer->click();
    QTest::keyClick(panel, Qt::Key_Return);

    saysThenLoadClears("did not load cleanly", image);

    panel->numberChips->setChecked(true);
    panel->serialAddress->setText("100");
    QTest::keyClick(panel, Qt::Key_Return);
    saysThenLoadClears("would replace bytes", erased);
  }
};

QTEST_MAIN(ProductionPanelViewTest)
#include "ProductionPanelViewTest.moc"
