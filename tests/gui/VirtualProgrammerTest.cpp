// The window's virtual programmer as a newcomer and a trainer use it: chips from files, kept
// from one run to the next, and a cable to pull, with what the window then says.
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "WindowFixture.h"
#include "gui/CommandLine.h"

using tandra::VirtualProgrammer;

class VirtualProgrammerTest : public QObject, public WindowFixture {
  Q_OBJECT

 private slots:
  void init() { resetScript(); }

  // The window's virtual programmer takes what tandra-cli's takes: a chip from a file in the
  // next socket (a used one, to rehearse a failure), its chips kept in a folder from one run to
  // the next, and a cable to pull (F9). A pulled cable is said as such, not as a stop: the
  // labels keep their words, the operations wait until the programmer is found again, and no
  // USB error box comes up.
  void theVirtualProgrammerRehearsesAFailingChipAndAPulledCable() {
    QTemporaryDir folder;
    const QString used = folder.filePath("used.hex");
    QFile file(used);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(":0400100000000000EC\n:00000001FF\n");
    file.close();
    const QString state = folder.filePath("chips");
    int exitCode = -1;
    const std::optional<WindowStart> start = readCommandLine(
        {"tandra-usb", "--virtual-chips", used, "--virtual-state", state}, &exitCode);
    QVERIFY(start.has_value());
    QCOMPARE(start->driver, tandra::DriverChoice::Virtual);
    VirtualProgrammer programmer{clock_};
    QCOMPARE(setUpVirtualProgrammer(*start, programmer), std::string());
    auto form = startWindow(programmer);
    form->setVirtualProgrammer(&programmer);
    choose(*form, "27C256", 2);
    QTest::mouseClick(form->Blank_Chk, Qt::LeftButton);
    QCOMPARE(form->Device_n[0]->text(), QString("1-Is Not Blank"));
    QCOMPARE(form->Device_n[1]->text(), QString("2- Is Blank      "));

    QTimer puller;
    connect(&puller, &QTimer::timeout, this, [&] {
      if (form->Quit_Func_But->text() != "&Quit = 2000") return;
      puller.stop();
      QTest::keyClick(form.get(), Qt::Key_F9);
    });
    puller.start(0);
    QTest::mouseClick(form->Blank_Chk, Qt::LeftButton);
    QVERIFY(programmer.unplugged());
    QVERIFY2(form->StaticText3->text().startsWith("Programmer lost at 2000: ") &&
                 form->StaticText3->text().contains("click here"),
             qPrintable(form->StaticText3->text()));
    QCOMPARE(form->Device_n[1]->text(), QString("2-Stopped"));
    QVERIFY(!form->Blank_Chk->isEnabled());
    QVERIFY(!form->Program_Eprom->isEnabled());
    QVERIFY(form->Load_But->isEnabled());
    for (const QString& box : boxes_) QVERIFY2(!box.contains(" - "), qPrintable(box));

    QTest::keyClick(form.get(), Qt::Key_F9);  // the cable back in
    QVERIFY(!programmer.unplugged());
    QTest::keyClick(form.get(), Qt::Key_R, Qt::AltModifier);
    QVERIFY(form->StaticText3->text().startsWith("Usb Programmer Found"));
    QVERIFY(form->Blank_Chk->isEnabled());
    QTest::mouseClick(form->Blank_Chk, Qt::LeftButton);
    QCOMPARE(form->Device_n[1]->text(), QString("2- Is Blank      "));

    QCOMPARE(keepVirtualState(*start, programmer, "27C256"), std::string());
    QFile kept(state + "/socket1-27C256.bin");
    QVERIFY(kept.open(QIODevice::ReadOnly));
    const QByteArray cells = kept.readAll();
    QCOMPARE(cells.size(), 0x8000);
    QCOMPARE(cells.mid(0x0F, 6), QByteArray("\xFF\x00\x00\x00\x00\xFF", 6));
    VirtualProgrammer again{clock_};
    QCOMPARE(setUpVirtualProgrammer(
                 *readCommandLine({"tandra-usb", "--virtual-state", state}, &exitCode), again),
             std::string());
    QCOMPARE(again.chip(1).cells()[0x10], std::uint8_t{0x00});
  }
};

QTEST_MAIN(VirtualProgrammerTest)
#include "VirtualProgrammerTest.moc"
