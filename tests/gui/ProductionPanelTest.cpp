// The production panel as a line runs it: sets one after another on the main window's session,
// each chip numbered and written down as tandra-cli writes it, all of it from the keyboard, and
// what reaches the chips when a set is stopped or the cable is pulled.
#include <unistd.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <sstream>

#include "PanelFixture.h"
#include "cli/Cli.h"
#include "link/ForwardingApi.h"

namespace {

// tandra-cli's chips are changed as it reads each set's first read set-up: each set reads its
// chips twice (Program Compare, then Verify).
class ChipChanger final : public tandra::ForwardingApi {
 public:
  ChipChanger(VirtualProgrammer& programmer, int stuckBit)
      : ForwardingApi(programmer), programmer_(programmer), stuckBit_(stuckBit) {}
  tandra::FtStatus Write(tandra::FtHandle h, const void* b, std::uint32_t c,
                         std::uint32_t* n) override {
    const auto* packet = static_cast<const std::uint8_t*>(b);
    if (c == 8 && packet[0] == 0x92 && packet[4] == 0xED && readSetUps_++ % 2 == 0 &&
        readSetUps_ > 1) {
      changeChips(programmer_, readSetUps_ / 2 + 1, stuckBit_);
    }
    return ForwardingApi::Write(h, b, c, n);
  }

 private:
  VirtualProgrammer& programmer_;
  int stuckBit_;
  int readSetUps_ = 0;
};

// Tells whenever the widget it watches is enabled or disabled.
class EnabledWatch final : public QObject {
 public:
  explicit EnabledWatch(std::function<void(bool)> changed) : changed_(std::move(changed)) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::EnabledChange) {
      changed_(static_cast<QWidget*>(watched)->isEnabled());
    }
    return false;
  }

 private:
  std::function<void(bool)> changed_;
};

}  // namespace

class ProductionPanelTest : public QObject, public PanelFixture {
  Q_OBJECT

 private slots:
  void init() { resetScript(); }

  // Three sets of five chips, numbered from 1000, with a worn socket 3 in the second: the
  // panel's log holds the lines tandra-cli program --repeat writes for the same chips, and its
  // statistics the same counts.
  void threeSetsAreLoggedAsTandraCliLogsThem() {
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
    QCOMPARE(form->StaticText4->text(), "Last File Loaded in Buffer=" + image);
    panel->numberChips->setChecked(true);
    panel->serialAddress->setText("7FF0");
    panel->serialStart->setText("1000");
    panel->logPath->setText(folder.filePath("panel.log"));

    for (int set = 1; set <= 3; ++set) {
      if (set > 1) changeChips(programmer, set, bit);
      QTest::keyClick(panel, Qt::Key_Return);
      QVERIFY2(panel->verdict->text().contains(set == 2 ? "1 OF 5 FAILED" : "ALL 5 PASSED"),
               qPrintable(panel->verdict->text()));
      if (set == 2) {
        QVERIFY(panel->rows[2].verdict->text().contains("Can`t Be Programed at 0x00100"));
        // The main window's label keeps its own words; its log names the step that failed
        // first, as the panel does.
        QCOMPARE(form->Device_n[2]->text(), QString("3-Didn't Verify"));
        QVERIFY2(form->logLines().first().startsWith(
                     "set 2, socket 3: Can`t Be Programed at 0x00100: expected 0x"),
                 qPrintable(form->logLines().first()));
      }
    }
    QCOMPARE(panel->rows[0].serial->text(), QString("1015"));  // the next set's numbers
    panel->endRun->click();
    QVERIFY(panel->statistics->isVisible());
    QVERIFY2(panel->statistics->text().contains("chips: 14 passed, 1 failed; yield 93.3 %"),
             qPrintable(panel->statistics->text()));
    QVERIFY(panel->statistics->text().contains("3: 2 passed, 1 failed"));
    QCOMPARE(panel->serialStart->text(), QString("1015"));  // no number is given twice

    VirtualProgrammer forCli{clock_};
    ChipChanger changer(forCli, bit);
    int keys[2];
    QCOMPARE(::pipe(keys), 0);
    QCOMPARE(::write(keys[1], "\n\nq\n", 4), 4);
    ::close(keys[1]);
    std::ostringstream out, err;
    tandra::cli::CliIo io(out, err);
    io.driver = &changer;
    io.inputDescriptor = keys[0];
    // tandra-cli judges the file by the bytes it sets, and a binary file sets every one: the
    // number goes over its erased bytes only when forced. The panel judges the window's buffer,
    // which the hex view may have changed since it was loaded, by what it holds.
    const int code =
        tandra::cli::runCli({"program", "-d", "27C256", "-n", "5", image.toStdString(), "--repeat",
                             "--sn-at", "7FF0", "--sn-start", "1000", "--force", "--log",
                             folder.filePath("cli.log").toStdString(), "--quiet"},
                            io);
    ::close(keys[0]);
    QCOMPARE(code, 1);
    QVERIFY(err.str().find("chips: 14 passed, 1 failed; yield 93.3 %") != std::string::npos);

    const std::vector<nlohmann::json> window = linesOf(folder.filePath("panel.log"));
    const std::vector<nlohmann::json> cli = linesOf(folder.filePath("cli.log"));
    QCOMPARE(window.size(), std::size_t{15});
    QCOMPARE(window.size(), cli.size());
    for (std::size_t line = 0; line < cli.size(); ++line) {
      QCOMPARE(QString::fromStdString(window[line].dump()),
               QString::fromStdString(cli[line].dump()));
    }
    QCOMPARE(window[7]["serial_number"], nlohmann::json("1007"));
    QCOMPARE(window[7]["result"], nlohmann::json("failed"));
  }

  // A set from the keyboard alone: the panel opens on Alt+T, every choice has its Alt key,
  // Enter in an entry takes the entry and starts nothing, Enter runs the set and then the next,
  // Alt+Q stops a set, Escape closes the panel. The main window is busy while a set runs.
  void aSetRunsFromTheKeyboardAlone() {
    QTemporaryDir folder;
    const QString image = folder.filePath("image.bin");
    writeFile(image, randomImage());
    VirtualProgrammer programmer{clock_};
    auto form = startWindow(programmer);
    form->Device_Box->setCurrentRow(listRow("27C256"));
    press(Qt::Key_Return);
    press(Qt::Key_Down);
    press(Qt::Key_Down);
    press(Qt::Key_Return);  // 2 sockets
    QCOMPARE(form->Device->text(), QString("2 - 27C256"));
    ProductionPanel* panel = openPanel(*form);
    QVERIFY(panel != nullptr);
    QCOMPARE(QApplication::focusWidget(), panel->programSet);

    const auto alt = [panel](Qt::Key key) { QTest::keyClick(panel, key, Qt::AltModifier); };
    files_.enqueue(image);
    alt(Qt::Key_L);
    QVERIFY(QTest::qWaitFor([&] { return !form->bufferFileName().empty(); }, 2000));
    alt(Qt::Key_N);
    QVERIFY(QTest::qWaitFor([&] { return panel->numberChips->isChecked(); }, 2000));
    alt(Qt::Key_A);
    QCOMPARE(QApplication::focusWidget(), panel->serialAddress);
    // A number over the image's bytes: the set is refused before a chip is touched, and the
    // main window is given back as it was.
    QTest::keyClicks(panel->serialAddress, "100");
    alt(Qt::Key_P);
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                   return panel->message->text().contains(
                       "would replace bytes socket 1's image sets there");
                 },
                 2000),
             qPrintable(panel->message->text()));
    QVERIFY(form->Program_Eprom->isEnabled());
    QVERIFY(form->Load_But->isEnabled());
    alt(Qt::Key_A);
    QTest::keyClick(panel->serialAddress, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(panel->serialAddress, "0x7ff0");  // as data sheets write it, or not
    alt(Qt::Key_S);
    QCOMPARE(QApplication::focusWidget(), panel->serialStart);
    QTest::keyClicks(panel->serialStart, "0x1F4");
    press(Qt::Key_Return);
    QVERIFY(panel->verdict->text().isEmpty());  // Enter took the entry
    QCOMPARE(panel->rows[1].serial->text(), QString("501"));
    alt(Qt::Key_O);
    QTest::keyClicks(QApplication::focusWidget(), folder.filePath("keys.log"));

    // The main window cannot start an operation while the set runs: its buttons stay disabled
    // from the first operation to the last, and its Alt+B pressed during the set does nothing.
    bool enabledWhileRunning = false;
    EnabledWatch watch(
        [&](bool enabled) { enabledWhileRunning |= enabled && panel->setRunning(); });
    form->Program_Eprom->installEventFilter(&watch);
    bool mainWindowBusy = false;
    const QMetaObject::Connection whileRunning =
        connect(panel->programSet, &QPushButton::released, this, [&] {
          QTimer::singleShot(0, [&] {
            mainWindowBusy = !form->Program_Eprom->isEnabled() && panel->setRunning();
            QTest::keyClick(form.get(), Qt::Key_B, Qt::AltModifier);
          });
        });
    alt(Qt::Key_P);
    QVERIFY(QTest::qWaitFor([&] { return panel->verdict->text().contains("ALL 2 PASSED"); }, 5000));
    disconnect(whileRunning);
    form->Program_Eprom->removeEventFilter(&watch);
    QVERIFY(mainWindowBusy);
    QVERIFY(!enabledWhileRunning);
    QCOMPARE(form->StaticText3->text(), QString("Verify Test Done...."));
    QVERIFY(form->Program_Eprom->isEnabled());
    QCOMPARE(QApplication::focusWidget(), panel->programSet);
    QCOMPARE(panel->rows[1].serial->text(), QString("503"));
    QVERIFY(panel->prompt->text().startsWith("Change the chips, then Enter"));

    changeChips(programmer, 1, 0);
    QTimer::singleShot(0, [panel] { QTest::keyClick(panel, Qt::Key_Q, Qt::AltModifier); });
    press(Qt::Key_Return);
    QVERIFY2(panel->verdict->text().contains("SET 2 STOPPED"), qPrintable(panel->verdict->text()));
    QVERIFY(panel->statistics->text().contains("sets: 1 done, 1 stopped"));
    QVERIFY(!panel->runOpen());

    press(Qt::Key_Escape);
    QVERIFY(!panel->isVisible());
    QCOMPARE(linesOf(folder.filePath("keys.log")).size(), std::size_t{4});
  }

  // A stop from the panel (Alt+Q) or by closing the main window: the set ends there. In Program
  // Compare no page reaches a chip; in Program the page under way goes to every socket and no
  // page after it, the chips hold those pages and nothing more, and each is written down as not
  // passed. The counts are the proof, not the words.
  void aStopReachesTheChipsNoFurtherThanThePageUnderWay() {
    const struct {
      const char* name;
      int pagesBeforeStop;  // 0: in Program Compare
      bool closeWindow;
    } stops[] = {{"Alt+Q in Program Compare", 0, false},
                 {"main window closed in Program Compare", 0, true},
                 {"Alt+Q in Program", 9, false}};
    for (const auto& stop : stops) {
      QTemporaryDir folder;
      const QString image = folder.filePath("image.bin");
      const QByteArray bytes = randomImage();
      writeFile(image, bytes);
      VirtualProgrammer programmer{clock_};
      auto form = startWindow(programmer);
      clickRow(form->Device_Box, listRow("27C256"));
      clickRow(form->Num_Of_Devices, 2);
      ProductionPanel* panel = openPanel(*form);
      QVERIFY(panel != nullptr);
      files_.enqueue(image);
      panel->loadBuffer->click();
      panel->logPath->setText(folder.filePath("stop.log"));
      programmer.clearPackets();
      // At the first message pump of the set after the pages asked for.
      QTimer stopper;
      connect(&stopper, &QTimer::timeout, this, [&] {
        if (!panel->setRunning() || programCommands(programmer) < stop.pagesBeforeStop) return;
        stopper.stop();
        if (stop.closeWindow) {
          form->close();
        } else {
          QTest::keyClick(panel, Qt::Key_Q, Qt::AltModifier);
        }
      });
      stopper.start(0);
      QTest::keyClick(panel, Qt::Key_Return);
      QVERIFY2(QTest::qWaitFor([&] { return !panel->setRunning(); }, 5000), stop.name);
      const int pages = programCommands(programmer);
      if (stop.pagesBeforeStop == 0) {
        QVERIFY2(pages == 0, stop.name);
      } else {
        // The page under way, to both sockets, and none after it.
        QVERIFY2(
            pages % 2 == 0 && pages >= stop.pagesBeforeStop && pages <= stop.pagesBeforeStop + 2,
            qPrintable(QString("%1: %2 pages").arg(stop.name).arg(pages)));
      }
      const int reached = pages / 2 * 256;
      for (int socket = 1; socket <= 2; ++socket) {
        const auto& cells = programmer.chip(socket).cells();
        QVERIFY2(std::equal(cells.begin(), cells.begin() + reached,
                            reinterpret_cast<const std::uint8_t*>(bytes.constData())),
                 stop.name);
        QVERIFY2(std::all_of(cells.begin() + reached, cells.begin() + 0x8000,
                             [](std::uint8_t b) { return b == 0xFF; }),
                 stop.name);
      }
      if (stop.closeWindow) {
        form.reset();
        continue;
      }
      QVERIFY2(panel->verdict->text().contains("SET 1 STOPPED"),
               qPrintable(panel->verdict->text()));
      const std::vector<nlohmann::json> lines = linesOf(folder.filePath("stop.log"));
      QCOMPARE(lines.size(), std::size_t{2});
      for (const nlohmann::json& line : lines) {
        QVERIFY(line["result"] != nlohmann::json("passed"));
        QCOMPARE(line["verified"], nlohmann::json(false));
      }
      QVERIFY2(panel->statistics->text().contains("0 passed"),
               qPrintable(panel->statistics->text()));
      form.reset();
    }
  }

  // The error boxes of the USB calls stay off once the panel has looked at the bus: a cable
  // pulled during a set or after one is told in words, never in a storm of modal boxes.
  void aPulledCableRaisesNoBoxAfterThePanelListedTheBus() {
    QTemporaryDir folder;
    const QString image = folder.filePath("image.bin");
    writeFile(image, randomImage());
    VirtualProgrammer programmer{clock_};
    auto form = startWindow(programmer);
    clickRow(form->Device_Box, listRow("27C256"));
    clickRow(form->Num_Of_Devices, 2);
    ProductionPanel* panel = openPanel(*form);
    QVERIFY(panel != nullptr);
    files_.enqueue(image);
    panel->loadBuffer->click();

    QTimer puller;
    connect(&puller, &QTimer::timeout, this, [&] {
      if (!panel->setRunning() || programCommands(programmer) < 4) return;
      puller.stop();
      programmer.setUnplugged(true);
    });
    puller.start(0);
    QTest::keyClick(panel, Qt::Key_Return);
    QVERIFY(QTest::qWaitFor([&] { return !panel->setRunning(); }, 5000));
    QVERIFY2(panel->message->text().contains("stopped answering in set 1"),
             qPrintable(panel->message->text()));
    QCOMPARE(usbErrorBoxes(boxes_), 0);

    // Found again, a set that runs to its end, the panel closed; then the cable goes once more.
    programmer.setUnplugged(false);
    for (int socket = 1; socket <= 2; ++socket) programmer.socket(socket).emplace();
    QApplication::setActiveWindow(form.get());
    QTest::keyClick(form.get(), Qt::Key_R, Qt::AltModifier);
    QVERIFY(QTest::qWaitFor([&] { return form->workbench().session.connected(); }, 5000));
    QApplication::setActiveWindow(panel);
    QTest::keyClick(panel, Qt::Key_Return);
    QVERIFY2(panel->verdict->text().contains("ALL 2 PASSED"), qPrintable(panel->verdict->text()));
    QTest::keyClick(panel, Qt::Key_Escape);
    QVERIFY(!panel->isVisible());
    programmer.setUnplugged(true);
    QTest::mouseClick(form->Blank_Chk, Qt::LeftButton);
    QCOMPARE(usbErrorBoxes(boxes_), 0);
    QVERIFY2(form->StaticText3->text().startsWith("Programmer lost at "),
             qPrintable(form->StaticText3->text()));
  }
};

QTEST_MAIN(ProductionPanelTest)
#include "ProductionPanelTest.moc"
