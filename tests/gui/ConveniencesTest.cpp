// What a bench user expects of a desktop program: settings kept between runs, a key for every
// control, a file dropped on the window, a changed file caught before it is burned, one window
// for the programmer.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLockFile>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QTemporaryDir>
#include <QtTest>
#include <filesystem>
#include <fstream>

#include "WindowFixture.h"
#include "gui/KeyEntry.h"
#include "gui/SingleInstance.h"

using tandra::VirtualProgrammer;

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(bytes);
}

// A drop of `uriList` (text/uri-list, as a file manager sends it) on the window, offering a
// copy or a move; whether the window took it, and as what.
Qt::DropAction dropUris(TMainForm& form, const QByteArray& uriList) {
  QMimeData data;
  data.setData("text/uri-list", uriList);
  const QPoint at(400, 300);
  const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction;
  QDragEnterEvent enter(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&form, &enter);
  if (!enter.isAccepted()) return Qt::IgnoreAction;
  QDropEvent dropped(QPointF(at), offered, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&form, &dropped);
  if (!dropped.isAccepted()) return Qt::IgnoreAction;
  // Never a move: a source that honours it deletes the file it dropped.
  return enter.dropAction() == Qt::CopyAction ? dropped.dropAction() : enter.dropAction();
}

bool drop(TMainForm& form, const QString& path) {
  const Qt::DropAction taken = dropUris(form, QUrl::fromLocalFile(path).toEncoded() + "\r\n");
  if (taken != Qt::IgnoreAction && taken != Qt::CopyAction) qWarning("taken as a move");
  return taken == Qt::CopyAction;
}

}  // namespace

class ConveniencesTest : public QObject, public WindowFixture {
  Q_OBJECT

  static void setPulse(TMainForm& form, const char* width) {
    QTest::mouseClick(form.Pulse, Qt::LeftButton);
    QTest::keyClicks(form.P_Edit, width);
    QTest::keyClick(form.P_Edit, Qt::Key_Return);
  }

 private slots:
  void init() { resetScript(); }

  void theWindowStartsWhereTheLastRunLeftIt() {
    QTemporaryDir files;
    const QString loadFolder = files.filePath("roms");
    const QString saveFolder = files.filePath("out");
    QDir().mkpath(loadFolder);
    QDir().mkpath(saveFolder);
    writeFile(loadFolder + "/a.bin", QByteArray(0x8000, '\x11'));
    QRect frame;
    QRect client;
    {
      VirtualProgrammer programmer{clock_};
      auto form = startWindow(programmer);
      choose(*form, "27C256", 3);
      setPulse(*form, "7");
      QTest::mouseClick(form->Vpp_But, Qt::LeftButton);
      QTest::mouseClick(form->Fill, Qt::LeftButton);
      clickRow(form->FillBox, 2);
      QTest::keyClicks(form->FillEdit, "5a");
      QTest::keyClick(form->FillEdit, Qt::Key_Return);
      files_ << loadFolder + "/a.bin" << saveFolder + "/b.bin";
      QTest::mouseClick(form->Load_But, Qt::LeftButton);
      QTest::mouseClick(form->Save_But, Qt::LeftButton);
      form->move(40, 50);
      frame = form->frameGeometry();
      client = form->geometry();
      QCOMPARE(form->Pulse->text(), QString("Pulse = 7"));
      QCOMPARE(form->Vpp_But->text(), QString("Vpp = 25"));  // one click on from its own 12.5
      form->close();
    }

    // The type is kept by its name, not by its row: the rows move when a type is added.
    QSettings kept(settingsPath(), QSettings::IniFormat);
    QCOMPARE(kept.value("device/type").toString(), QString("27C256"));
    // The place is kept as the toolkit records it, frame and all: a window put back from the
    // record stands where this one stood, its frame and its inside alike. (A place kept without
    // the frame moved the window up by the title bar's height at every start.)
    QWidget putBack;
    QVERIFY(putBack.restoreGeometry(kept.value("window/geometry").toByteArray()));
    putBack.show();
    QCOMPARE(putBack.frameGeometry(), frame);
    QCOMPARE(putBack.geometry(), client);

    VirtualProgrammer programmer{clock_};
    auto form = startWindow(programmer);
    QCOMPARE(form->frameGeometry(), frame);
    QCOMPARE(form->geometry(), client);
    QCOMPARE(form->Device_Box->currentRow(), rowOf("27C256"));
    press(Qt::Key_Return);
    QCOMPARE(form->Num_Of_Devices->currentRow(), 3);
    press(Qt::Key_Return);
    QCOMPARE(form->Device->text(), QString("3 - 27C256"));
    QCOMPARE(form->Pulse->text(), QString("Pulse = 7"));
    QCOMPARE(form->workbench().session.settings().pulseWidth, 7);
    // 25 V was the choice of the moment: the chip comes back at the voltage it is made for.
    QCOMPARE(form->Vpp_But->text(), QString("Vpp = 12.5"));
    QCOMPARE(form->workbench().session.settings().vppSetting, 3);
    QCOMPARE(dialogs_->openFolder, loadFolder);
    QCOMPARE(dialogs_->saveFolder, saveFolder);
    QTest::mouseClick(form->Fill, Qt::LeftButton);
    clickRow(form->FillBox, 2);
    QCOMPARE(form->FillEdit->text(), QString("5A"));
    press(Qt::Key_Return);
    QCOMPARE(form->workbench().session.image()[0], std::uint8_t{0x5A});

    // Another type gets its own width, as always.
    form->Device->click();
    QCOMPARE(form->Device_Box->currentRow(), rowOf("27C256"));
    choose(*form, "2716");
    QCOMPARE(form->Pulse->text(), QString("Pulse = 40"));
    form->close();
    form.reset();

    // A name the list does not have (a type taken out, a hand-edited file) chooses nothing; a
    // place on a screen no longer there is a place on the screen that is.
    QWidget farAway;
    farAway.show();
    farAway.move(5000, 5000);
    QSettings(settingsPath(), QSettings::IniFormat).setValue("device/type", "27C999");
    QSettings(settingsPath(), QSettings::IniFormat)
        .setValue("window/geometry", farAway.saveGeometry());
    auto again = startWindow(programmer);
    QCOMPARE(again->Device_Box->currentRow(), 0);
    QVERIFY(QGuiApplication::screenAt(again->frameGeometry().center()) != nullptr);
  }

  // Each type keeps the pulse width and voltage last used with it, from one choice of the type
  // to the next and from one run to the next. A voltage above the chip's own is said on the
  // status line while it is chosen, and is never put back unasked.
  void eachTypeKeepsItsWidthAndVoltage() {
    const struct {
      const char* name;
      const char* pulse;
      int vppClicks;
      const char* vppClicked;
      const char* warning;   // on the status line after the clicks
      const char* vppAgain;  // when the type is chosen again
    } types[] = {
        {"27C256", "7", 1, "Vpp = 25", "Vpp = 25 is above the 27C256's 12.5 V", "Vpp = 12.5"},
        {"2732", "11", 1, "Vpp = 21", nullptr, "Vpp = 21"},
        {"2764", "9", 0, "Vpp = 21", nullptr, "Vpp = 21"},
        {"2732A", "3", 1, "Vpp = 12.5", nullptr, "Vpp = 12.5"},
        {"27128", "6", 2, "Vpp = 25", "Vpp = 25 is above the 27128's 21 V", "Vpp = 21"},
    };
    const auto shown = [](const TMainForm& form, const char* name) {
      return QString(name) + " | " + form.Pulse->text() + " | " + form.Vpp_But->text() + " | " +
             form.StaticText3->text();
    };
    QString found;
    {
      VirtualProgrammer programmer{clock_};
      auto form = startWindow(programmer);
      found = form->StaticText3->text();
      for (const auto& type : types) {
        choose(*form, type.name);
        setPulse(*form, type.pulse);
        for (int click = 0; click < type.vppClicks; ++click) {
          QTest::mouseClick(form->Vpp_But, Qt::LeftButton);
        }
        QCOMPARE(shown(*form, type.name), QString(type.name) + " | Pulse = " + type.pulse + " | " +
                                              type.vppClicked + " | " +
                                              (type.warning != nullptr ? type.warning : found));
      }
      for (const auto& type : types) {
        choose(*form, type.name);
        QCOMPARE(shown(*form, type.name), QString(type.name) + " | Pulse = " + type.pulse + " | " +
                                              type.vppAgain + " | " + found);
      }
      // The warning goes once the button comes round to a voltage the chip is made for.
      choose(*form, "27C256");
      QTest::mouseClick(form->Vpp_But, Qt::LeftButton);
      QTest::mouseClick(form->Vpp_But, Qt::LeftButton);
      QCOMPARE(form->StaticText3->text(), QString("Vpp = 21 is above the 27C256's 12.5 V"));
      QTest::mouseClick(form->Vpp_But, Qt::LeftButton);
      QCOMPARE(form->StaticText3->text(), found);
      form->close();
    }
    VirtualProgrammer programmer{clock_};
    auto form = startWindow(programmer);
    for (const auto& type : types) {
      choose(*form, type.name);
      QCOMPARE(shown(*form, type.name), QString(type.name) + " | Pulse = " + type.pulse + " | " +
                                            type.vppAgain + " | " + found);
    }
  }

  // Every control that a click works has a key that works it too, named in its hint, in the
  // list of keys (F1) and in the manual page; no two keys are alike.
  void everyControlHasAKeyAndTheKeysAreListed() {
    VirtualProgrammer programmer{clock_};
    auto form = startWindow(programmer);
    TMainForm& f = *form;
    QStringList keys;
    for (QPushButton* button : f.buttons()) {
      const QKeySequence mnemonic = QKeySequence::mnemonic(button->text());
      if (!mnemonic.isEmpty()) keys << mnemonic.toString(QKeySequence::PortableText);
    }
    for (const QShortcut* shortcut : f.findChildren<QShortcut*>()) {
      if (shortcut->isEnabled()) keys << shortcut->key().toString(QKeySequence::PortableText);
    }
    QCOMPARE(QSet<QString>(keys.begin(), keys.end()).size(), keys.size());

    choose(f, "27C256", 5);
    QTest::mouseClick(f.Chk_Sum_But, Qt::LeftButton);  // its caption's "&" goes, its key stays
    f.workbench().session.image()[0] = 0x01;
    const auto closeWithEscape = [] { press(Qt::Key_Escape); };
    const struct {
      Qt::Key key;
      QWidget* control;
      std::function<bool()> done;
      std::function<void()> after;
    } works[] = {
        {Qt::Key_A, f.Prg_Compare,
         [&] { return f.StaticText3->text() == "Program Compare Test Done...."; }, nullptr},
        {Qt::Key_I, f.File_But, [&] { return f.File_Type->isVisible(); }, closeWithEscape},
        {Qt::Key_D, f.Device, [&] { return f.Device_Box->isVisible(); }, closeWithEscape},
        {Qt::Key_U, f.Pulse, [&] { return f.P_Edit->isVisible(); }, closeWithEscape},
        {Qt::Key_O, f.Vpp_But, [&] { return f.Vpp_But->text() == "Vpp = 25"; }, nullptr},
        {Qt::Key_C, f.Chk_Sum_But, [&] { return f.Chk_Sum_But->text() == "CheckSum=0001"; },
         nullptr},
        {Qt::Key_3, f.Device_n[2], [&] { return f.Device_n[2]->text() == "3-Skipped"; }, nullptr},
        {Qt::Key_3, f.Device_n[2], [&] { return f.Device_n[2]->text().isEmpty(); }, nullptr},
        {Qt::Key_R, f.StaticText3,
         [&] { return f.StaticText3->text().startsWith("Usb Programmer Found"); }, nullptr},
    };
    for (const auto& work : works) {
      const QString key = QKeySequence(Qt::AltModifier | work.key).toString();
      f.Fill->setFocus();
      QTest::keyClick(&f, work.key, Qt::AltModifier);
      QVERIFY2(QTest::qWaitFor(work.done, 2000), qPrintable(key));
      // (The status line has a hint only while no programmer is found.)
      QVERIFY2(work.control->toolTip().endsWith(key) ||
                   work.control->toolTip().endsWith(key + ")") || work.control == f.StaticText3,
               qPrintable(key + ": " + work.control->toolTip()));
      if (work.after) work.after();
    }
    QCOMPARE(f.Device_n[1]->toolTip(),
             QString("Click to leave socket 2 out of the operations (Alt+2)"));

    QFile page(TANDRA_SOURCE_DIR "/doc/tandra-usb.1");
    QVERIFY(page.open(QIODevice::ReadOnly));
    const QString manual = QString::fromUtf8(page.readAll()).remove("\\&");
    boxes_.clear();
    QTest::keyClick(&f, Qt::Key_F1);
    QCOMPARE(boxes_.size(), 1);
    for (const QString& key : keys) {
      QVERIFY2(boxes_[0].contains(key), qPrintable(key));
      QVERIFY2(manual.contains(key), qPrintable(key + " is not in the manual page"));
    }
  }

  void aDroppedFileIsLoadedAsTheLoadButtonWould() {
    QTemporaryDir folder;
    const QString good = folder.filePath("rom.bin");
    writeFile(good, QByteArray("\x01\x02\x03\x04", 4));
    VirtualProgrammer programmer{clock_};
    auto form = startWindow(programmer);
    // Nothing is taken while a list is open.
    QVERIFY(!drop(*form, good));
    choose(*form, "2716");

    QVERIFY(drop(*form, good));
    QCOMPARE(form->StaticText4->text(), "Last File Loaded in Buffer=" + good);
    QCOMPARE(form->Chk_Sum_But->text(), QString("CheckSum=000A"));
    QVERIFY(boxes_.isEmpty());

    // A file the loader refuses gets the Load button's box and leaves the buffer.
    QTest::mouseClick(form->File_But, Qt::LeftButton);
    clickRow(form->File_Type, 1);  // Intel Hex
    const QString bad = folder.filePath("bad.hex");
    writeFile(bad, ":04000000010203\n");
    QVERIFY(drop(*form, bad));
    QCOMPARE(boxes_.size(), 1);
    QCOMPARE(form->workbench().session.image()[3], std::uint8_t{0x04});
    QCOMPARE(form->StaticText4->text(), "Last File Loaded in Buffer=" + good);

    // A folder is said to be one.
    QVERIFY(drop(*form, folder.path()));
    QCOMPARE(boxes_.size(), 2);
    QVERIFY2(boxes_[1].startsWith("This is a folder, not a file.\n"), qPrintable(boxes_[1]));
  }

  // A dropped file is read as its content and name say, whatever format was chosen last; one
  // whose name and content disagree is refused with both named.
  void aDroppedFileIsReadInItsOwnFormat() {
    QTemporaryDir folder;
    VirtualProgrammer programmer{clock_};
    auto form = startWindow(programmer);
    choose(*form, "2716");
    QCOMPARE(form->fileFormatCode(), 0);  // Binary
    const QString intel = folder.filePath("rom.hex");
    writeFile(intel, ":020000001122CB\r\n:00000001FF\r\n");
    QVERIFY(drop(*form, intel));
    QCOMPARE(form->workbench().session.image()[1], std::uint8_t{0x22});
    QVERIFY(boxes_.isEmpty());

    const QString binary = folder.filePath("binary.hex");
    writeFile(binary, QByteArray("\x00\x01\x80\xFE", 4));
    QVERIFY(drop(*form, binary));
    QCOMPARE(boxes_.size(), 1);
    QVERIFY(boxes_[0].contains("The file's name says Intel Hex (.hex), but the file looks binary"));
    QCOMPARE(form->workbench().session.image()[1], std::uint8_t{0x22});

    // A name that is not UTF-8 comes as the bytes of its URL, and is shown as they are.
    const std::string odd = folder.filePath("rom").toStdString() + "\xFF.hex";
    std::ofstream(odd, std::ios::binary) << ":02000000334487\r\n:00000001FF\r\n";
    const QByteArray uri =
        "file://" + QByteArray::fromStdString(odd).toPercentEncoding("/") + "\r\n";
    QCOMPARE(dropUris(*form, uri), Qt::CopyAction);
    std::filesystem::remove(odd);  // which QTemporaryDir cannot name
    QVERIFY2(boxes_.size() == 1, qPrintable(boxes_.last()));
    QCOMPARE(form->workbench().session.image()[1], std::uint8_t{0x44});
    QCOMPARE(form->StaticText4->text(),
             "Last File Loaded in Buffer=" + folder.filePath("rom") + "\\xFF.hex");
  }

  void programOffersToLoadAChangedFileAgainOnce() {
    QTemporaryDir folder;
    const QString path = folder.filePath("rom.bin");
    writeFile(path, QByteArray(0x800, '\x11'));
    VirtualProgrammer programmer{clock_};
    auto form = startWindow(programmer);
    choose(*form, "2716");
    files_ << path;
    QTest::mouseClick(form->Load_But, Qt::LeftButton);

    QTest::mouseClick(form->Program_Eprom, Qt::LeftButton);
    QVERIFY(boxes_.isEmpty());  // unchanged: nothing asked
    writeFile(path, QByteArray(0x800, '\x22'));
    yesNo_ << true;
    programmer.chip(1).erase();
    QTest::mouseClick(form->Program_Eprom, Qt::LeftButton);
    QCOMPARE(boxes_.size(), 1);
    QVERIFY(boxes_[0].contains(path));
    QCOMPARE(programmer.chip(1).cells()[0x100], std::uint8_t{0x22});

    // No programs the buffer as it is, and the same change is not asked about again.
    writeFile(path, QByteArray(0x900, '\x00'));
    yesNo_ << false;
    programmer.chip(1).erase();
    QTest::mouseClick(form->Program_Eprom, Qt::LeftButton);
    QTest::mouseClick(form->Program_Eprom, Qt::LeftButton);
    QCOMPARE(boxes_.size(), 2);
    QCOMPARE(form->workbench().session.image()[0x100], std::uint8_t{0x22});

    // A buffer read from a chip is no longer the file's.
    writeFile(path, QByteArray(0x800, '\x33'));
    QTest::mouseClick(form->Move_Eprom, Qt::LeftButton);
    QTest::mouseClick(form->Program_Eprom, Qt::LeftButton);
    QCOMPARE(boxes_.size(), 2);
  }

  void aMoveThatReadsNothingLeavesTheBufferTheFiles() {
    QTemporaryDir folder;
    const QString path = folder.filePath("rom.bin");
    writeFile(path, QByteArray(0x800, '\x11'));
    VirtualProgrammer programmer{clock_};
    auto form = startWindow(programmer);
    clickRow(form->Device_Box, 0);  // the heading: no type
    files_ << path;
    QTest::mouseClick(form->Load_But, Qt::LeftButton);

    // Without a type Move stops at its box.
    QTest::mouseClick(form->Move_Eprom, Qt::LeftButton);
    writeFile(path, QByteArray(0x900, '\x22'));
    QTest::mouseClick(form->Program_Eprom, Qt::LeftButton);
    // No type, the file cut to the empty window, Move's no type, the changed file, Program's.
    QCOMPARE(boxes_.size(), 5);
    QVERIFY(boxes_[3].contains(path));

    // A Move stopped before its first block reads nothing either.
    choose(*form, "2716");
    form->workbench().session.stop();
    QTest::mouseClick(form->Move_Eprom, Qt::LeftButton);
    writeFile(path, QByteArray(0xA00, '\x33'));
    QTest::mouseClick(form->Program_Eprom, Qt::LeftButton);
    QCOMPARE(boxes_.size(), 6);
    QVERIFY(boxes_[5].contains(path));
    form->workbench().session.resume();
  }

  void onlyOneWindowHoldsTheProgrammer() {
    QTemporaryDir folder;
    std::unique_ptr<QLockFile> first = claimTheProgrammer(folder.path());
    QVERIFY(first != nullptr);
    QVERIFY(claimTheProgrammer(folder.path()) == nullptr);
    first.reset();
    QVERIFY(claimTheProgrammer(folder.path()) != nullptr);
  }
};

QTEST_MAIN(ConveniencesTest)
#include "ConveniencesTest.moc"
