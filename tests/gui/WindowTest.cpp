// The window as a new operator meets it: where the keyboard goes, what can be read, and what it
// shows of long work.
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QWindow>
#include <QtTest>
#include <cmath>

#include <QTemporaryDir>
#include <nlohmann/json.hpp>
#include <sstream>

#include "WindowFixture.h"
#include "cli/Cli.h"
#include "gui/HexViewWidget.h"
#include "gui/KeyEntry.h"
#include "link/ForwardingApi.h"

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

// The pixels at a socket label's right end that stand out from its face by lightness alone:
// what an eye that tells no red from green sees of a verdict's mark.
std::vector<bool> markShape(QLabel* label) {
  const QImage face = label->grab().toImage();
  const int faceGrey = qGray(label->palette().color(QPalette::Window).rgb());
  std::vector<bool> shape;
  for (int y = 3; y < face.height() - 3; ++y) {
    for (int x = face.width() - SocketLabel::kMarkRoom - 1; x < face.width() - 3; ++x) {
      shape.push_back(std::abs(qGray(face.pixel(x, y)) - faceGrey) > 60);
    }
  }
  return shape;
}

int inked(const std::vector<bool>& shape) {
  return static_cast<int>(std::count(shape.begin(), shape.end(), true));
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
    form->Device_Box->setCurrentRow(rowOf("27C256"));
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
    QCOMPARE(form->workbench().session.settings().deviceFamily, 4);

    // Back in the idle state the keyboard is on the button that opened the lists: a Space
    // opens them again and starts nothing.
    QCOMPARE(QApplication::focusWidget(), form->Device);
    programmer.clearPackets();
    press(Qt::Key_Space);
    QVERIFY(form->Device_Box->isVisible());
    form->Device_Box->setCurrentRow(blankRow());  // a blank row: no device, and idle at once
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
    choose(*form, "27C256");  // its pulse width: 5
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

  void colouredCaptionsAreReadable() {
    VirtualProgrammer programmer{clock_};
    auto form = startIdleWindow(programmer);
    for (QPushButton* button : {form->Blank_Chk, form->Device}) {
      QCOMPARE(button->palette().color(QPalette::Active, QPalette::ButtonText), QColor(Qt::yellow));
    }
    for (QPushButton* button : {form->Blank_Chk, form->Device, form->Edit, form->Fill}) {
      const QPalette& palette = button->palette();
      QVERIFY2(contrast(palette.color(QPalette::Button),
                        palette.color(QPalette::Active, QPalette::ButtonText)) >= 4.5,
               qPrintable(button->objectName()));
    }
  }

  // The caption exactly as drawn, every row of the count list in view, the progress bar clear
  // of the address entry, and a focus frame that shows on any face.
  void theWindowIsLaidOutAsDrawn() {
    TMainForm::setUpApplication();
    VirtualProgrammer programmer{clock_};
    auto form = startWindow(programmer);
    const QString caption =
        "Tandra32 Adapter for the USB Vasko Programmer By Korvane, Inc.   Version 1.00  6 Jan 2007";
    QCOMPARE(form->windowTitle(), caption);
    QCOMPARE(form->windowHandle()->title(), caption);
    QCOMPARE(QGuiApplication::desktopFileName(), QString("org.tandra.TandraUSB"));

    form->Device_Box->setCurrentRow(rowOf("27C256"));
    press(Qt::Key_Return);
    PopupList* count = form->Num_Of_Devices;
    QVERIFY(count->isVisible());
    QCOMPARE(count->size(), QSize(103, 97));
    QVERIFY(!count->verticalScrollBar()->isVisible());
    for (int row = 0; row < count->count(); ++row) {
      QVERIFY2(count->viewport()->rect().contains(count->visualItemRect(count->item(row))),
               qPrintable(count->item(row)->text()));
    }

    QVERIFY(!form->Progress->geometry().intersects(form->Chg_Edit_Add->geometry()));
    QVERIFY(!form->Progress->geometry().intersects(form->Edit_1->geometry()));

    // The focused button, as drawn: a black ring two pixels wide inside its edge, a white line
    // within; the same button without the focus has neither.
    const auto ringAt = [](QPushButton* button, int inset) {
      const QImage face = button->grab().toImage();
      return face.pixelColor(inset, face.height() / 2);
    };
    clickRow(count, 2);  // idle again
    form->Fill->setFocus(Qt::TabFocusReason);
    QVERIFY(form->Fill->hasFocus());
    QCOMPARE(ringAt(form->Fill, 1), QColor(Qt::black));
    QCOMPARE(ringAt(form->Fill, 2), QColor(Qt::black));
    QCOMPARE(ringAt(form->Fill, 3), QColor(Qt::white));
    QVERIFY(ringAt(form->Edit, 2) != QColor(Qt::black));
  }

  // Escape closes a list without a choice, or an entry with the text it had, and the keyboard
  // goes back to the button that opened it.
  void escapeLeavesEveryListAndEntryAsItWas() {
    VirtualProgrammer programmer{clock_};
    auto form = startWindow(programmer);
    press(Qt::Key_Escape);  // the very first choice has nothing to go back to
    QVERIFY(form->Device_Box->isVisible());
    form->Device_Box->setCurrentRow(rowOf("27C256"));
    press(Qt::Key_Return);
    press(Qt::Key_Down);
    press(Qt::Key_Down);
    press(Qt::Key_Return);
    QCOMPARE(form->Device->text(), QString("2 - 27C256"));

    press(Qt::Key_Space);
    QVERIFY(form->Device_Box->isVisible());
    press(Qt::Key_Escape);
    QVERIFY(!form->Device_Box->isVisible());
    QVERIFY(form->Device_n[1]->isVisible());
    QCOMPARE(QApplication::focusWidget(), form->Device);
    QVERIFY(form->Program_Eprom->isEnabled());

    press(Qt::Key_Space);
    form->Device_Box->setCurrentRow(rowOf("2716"));
    press(Qt::Key_Return);
    press(Qt::Key_Escape);  // the count stays
    QCOMPARE(form->Device->text(), QString("2 - 2716"));
    QCOMPARE(QApplication::focusWidget(), form->Device);

    form->File_But->setFocus();
    press(Qt::Key_Space);
    press(Qt::Key_Down);
    press(Qt::Key_Escape);
    QCOMPARE(form->File_But->text(), QString("Binary File"));
    QCOMPARE(QApplication::focusWidget(), form->File_But);

    form->workbench().session.image()[0] = 0x42;
    form->Fill->setFocus();
    press(Qt::Key_Space);
    press(Qt::Key_Escape);
    QVERIFY(!form->FillBox->isVisible());
    QCOMPARE(QApplication::focusWidget(), form->Fill);
    press(Qt::Key_Space);
    form->FillBox->setCurrentRow(2);
    press(Qt::Key_Return);
    press(Qt::Key_5);
    press(Qt::Key_Escape);
    QVERIFY(!form->FillEdit->isVisible());
    QCOMPARE(form->workbench().session.image()[0], std::uint8_t{0x42});
    QVERIFY(form->Program_Eprom->isEnabled());

    QTest::mouseClick(form->Pulse, Qt::LeftButton);
    press(Qt::Key_7);
    press(Qt::Key_Escape);
    QVERIFY(!form->P_Edit->isVisible());
    QCOMPARE(form->P_Edit->text(), QString("40"));
    QCOMPARE(form->Pulse->text(), QString("Pulse = 40"));
    QCOMPARE(QApplication::focusWidget(), form->Pulse);
    QCOMPARE(programCommands(programmer), 0);
  }

  void verdictsReadAtAGlanceAndOnlyOnceTheRunIsOver() {
    VirtualProgrammer programmer{clock_};
    auto form = startIdleWindow(programmer);
    choose(*form, "27C256", 3);
    programmer.chip(2).cells()[0x100] = 0x00;
    QLabel* good = form->Device_n[0];
    QLabel* bad = form->Device_n[1];
    const auto colour = [](const QLabel* l) { return l->palette().color(QPalette::WindowText); };

    // While the check runs the labels already read "Blank OK", but carry no verdict's look.
    bool lookedJudged = false;
    int looks = 0;
    QTimer during;
    connect(&during, &QTimer::timeout, [&] {
      if (form->Progress->isVisible() && !form->Blank_Chk->isEnabled()) {
        ++looks;
        lookedJudged |= good->font().bold() || !good->font().italic() || inked(markShape(good)) > 0;
      }
    });
    during.start(0);
    QTest::mouseClick(form->Blank_Chk, Qt::LeftButton);
    during.stop();
    QVERIFY(looks > 0);
    QVERIFY(!lookedJudged);

    QCOMPARE(bad->text(), QString("2-Is Not Blank"));
    for (QLabel* judged : {good, bad}) {
      QVERIFY(judged->font().bold());
      QVERIFY(!judged->font().italic());
      QVERIFY(contrast(colour(judged), judged->palette().color(QPalette::Window)) >= 4.5);
    }
    QVERIFY(colour(bad) != colour(good));
    QVERIFY(colour(form->Device_n[2]) == colour(good));
    // Without colour, a pass and a failure still look apart: each has a mark of its own.
    const std::vector<bool> passed = markShape(good);
    const std::vector<bool> failed = markShape(bad);
    std::size_t apart = 0;
    for (std::size_t i = 0; i < passed.size(); ++i) apart += passed[i] != failed[i];
    QVERIFY2(inked(passed) > 10 && inked(failed) > 10 && apart > 10,
             qPrintable(QString("%1 %2 %3").arg(inked(passed)).arg(inked(failed)).arg(apart)));
    // Every verdict's words, in a verdict's bold, fit beside the mark.
    for (const char* words :
         {"Programmed OK ", "Not Programmed", " Is Blank      ", "Is Not Blank", " Verified OK   ",
          "Didn't Verify", "Can Be Programed", "Can`t Be Programed", "Skipped", "Stopped"}) {
      form->setCaption(tandra::Control::Device_3, std::string("3-") + words);
      QVERIFY2(form->Device_n[2]->fontMetrics().horizontalAdvance(form->Device_n[2]->text()) <=
                   form->Device_n[2]->contentsRect().width() - SocketLabel::kMarkRoom,
               words);
    }
    QVERIFY(form->Memo1->toPlainText().startsWith("Blank Check took "));
    QVERIFY(form->Memo1->toPlainText().section('\n', 0, 0).endsWith(", 1 of 3 sockets failed"));

    programmer.chip(2).erase();
    QTest::mouseClick(form->Blank_Chk, Qt::LeftButton);
    QCOMPARE(colour(bad), colour(good));
  }

  void smallTextsTellWhatToDo() {
    VirtualProgrammer absent{clock_};
    absent.setDeviceCount(0);
    auto form = startWindow(absent);
    QCOMPARE(form->StaticText3->toolTip(),
             QString("Click to look for the programmer again (Alt+R)"));

    form->workbench().IdleState();
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

  // One set of handlers under both front ends: the same chips get the same verdicts.
  void theWindowAndTheCommandLineJudgeTheSameChipsAlike() {
    QTemporaryDir folder;
    const QString path = folder.filePath("image.bin");
    std::vector<std::uint8_t> image(0x8000);
    for (std::size_t a = 0; a < image.size(); ++a) image[a] = static_cast<std::uint8_t>(a * 13);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(image.data()), static_cast<qint64>(image.size()));
    file.close();
    const auto sameChips = [&](VirtualProgrammer& programmer) {
      for (int socket = 1; socket <= 3; ++socket) {
        std::copy(image.begin(), image.end(),
                  programmer.insertChip(socket, "27C256").cells().begin());
      }
      programmer.chip(2).setStuckBit(0x1234, 0, true);
      std::fill(programmer.chip(3).cells().begin() + 0x4000, programmer.chip(3).cells().end(),
                0xFF);
    };

    VirtualProgrammer forWindow{clock_};
    sameChips(forWindow);
    auto form = startIdleWindow(forWindow);
    choose(*form, "27C256", 3);
    files_ << path;
    QTest::mouseClick(form->Load_But, Qt::LeftButton);
    QTest::mouseClick(form->Verify_Eprom, Qt::LeftButton);
    const tandra::OperationResult& window = form->workbench().session.lastResult();

    VirtualProgrammer forCli{clock_};
    sameChips(forCli);
    std::ostringstream out, err;
    tandra::cli::CliIo io(out, err);
    io.driver = &forCli;
    QCOMPARE(tandra::cli::runCli(
                 {"verify", "-d", "27C256", "-n", "3", path.toStdString(), "--json"}, io),
             1);
    const nlohmann::json cli = nlohmann::json::parse(out.str())["operations"][0]["sockets"];
    QCOMPARE(window.sockets.size(), cli.size());
    for (std::size_t s = 0; s < cli.size(); ++s) {
      QCOMPARE(QString::fromStdString(window.sockets[s].describe()),
               QString::fromStdString(cli[s]["text"].get<std::string>()));
    }
    const auto hexByte = [](int value) {
      return QString("%1").arg(value, 2, 16, QChar('0')).toUpper();
    };
    QCOMPARE(QString::fromStdString(window.sockets[1].describe()),
             "Didn't Verify at 0x01234: expected 0x" + hexByte(image[0x1234]) + ", read 0x" +
                 hexByte(image[0x1234] | 1));
    QCOMPARE(form->Device_n[2]->text(), QString("3-Didn't Verify"));
  }

  void aTypedNameIsOpenedAsItStandsAndOnlyASaveGetsTheSuffix() {
    QTemporaryDir folder;
    QFile existing(folder.filePath("noext"));
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.close();
    // Types a name into whichever file dialog comes up, then takes it.
    const auto typeName = [&](const QString& name) {
      QTimer::singleShot(0, [&folder, name] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog != nullptr);
        dialog->setDirectory(folder.path());
        auto* entry = dialog->findChild<QLineEdit*>("fileNameEdit");
        QVERIFY(entry != nullptr);
        entry->setText(name);
        QTest::keyClick(entry, Qt::Key_Return);
      });
    };
    QtDialogs dialogs;
    typeName("noext");
    QCOMPARE(dialogs.openFileName(nullptr, "Bin", 1, false), folder.filePath("noext"));
    typeName("new");
    QCOMPARE(dialogs.saveFileName(nullptr, "Bin", 1), folder.filePath("new.Bin"));
  }

  void anUnexpectedErrorKeepsItsBoxAndLeavesItsCauseInTheLog() {
    // A driver that fails in a way nobody planned for, in the start-up search.
    struct Faulty final : tandra::ForwardingApi {
      using ForwardingApi::ForwardingApi;
      tandra::FtStatus Write(tandra::FtHandle, const void*, std::uint32_t,
                             std::uint32_t*) override {
        throw std::runtime_error("the driver fell over");
      }
    };
    VirtualProgrammer programmer{clock_};
    Faulty faulty(programmer);
    TMainForm window(faulty);
    window.setDialogs(
        std::make_unique<ScriptedDialogs>(ScriptedDialogs::Record{&boxes_, &yesNo_, &files_}));
    window.show();
    QVERIFY(QTest::qWaitFor([&] { return !boxes_.isEmpty(); }, 5000));
    // The box keeps the program's own words; the cause is in the log for whoever looks into it.
    QCOMPARE(boxes_.first(), QString(TMainForm::kUnexpectedErrorText));
    QVERIFY(window.logLines().contains(QString(TMainForm::kUnexpectedErrorText) +
                                       " the driver fell over"));
  }

  void aClickOnASocketLabelLeavesItOutAndASecondPutsItBack() {
    VirtualProgrammer programmer{clock_};
    auto form = startIdleWindow(programmer);
    choose(*form, "27C256", 5);
    for (int socket = 2; socket <= 5; ++socket) {
      QTest::mouseClick(form->Device_n[static_cast<std::size_t>(socket - 1)], Qt::LeftButton);
    }
    QCOMPARE(form->Device_n[1]->text(), QString("2-Skipped"));
    QVERIFY(form->Device_n[1]->toolTip().contains("click to put socket 2 back"));
    programmer.clearPackets();
    QTest::mouseClick(form->Blank_Chk, Qt::LeftButton);
    for (const auto& packet : programmer.packets()) {
      QVERIFY(!(packet[0] == 0x20 && packet[4] == 0xBD));  // socket 2 is read nothing
    }
    QCOMPARE(form->Device_n[0]->text(), QString("1- Is Blank      "));
    QCOMPARE(form->Device_n[1]->text(), QString("2-Skipped"));
    // The log's summary counts the sockets left out, so that a pass of one chip is not taken
    // for a pass of five.
    QVERIFY2(form->Memo1->toPlainText().section('\n', 0, 0).endsWith(", 4 sockets skipped"),
             qPrintable(form->Memo1->toPlainText()));
    for (int socket = 2; socket <= 5; ++socket) {
      QTest::mouseClick(form->Device_n[static_cast<std::size_t>(socket - 1)], Qt::LeftButton);
    }
    QCOMPARE(form->Device_n[1]->text(), QString(""));
    QCOMPARE(form->workbench().session.settings().skippedSockets, 0);
  }

  void longWorkShowsItsProgressAndTime() {
    VirtualProgrammer programmer{clock_};
    auto form = startIdleWindow(programmer);
    choose(*form, "27C256", 2);
    QList<int> values;
    bool shownWithText = false;
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, [&] {
      if (!form->Progress->isVisible()) return;
      values << form->Progress->value();
      shownWithText = shownWithText ||
                      form->Progress->text().contains(QRegularExpression("^\\d+%   0:\\d\\d$"));
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

    // The time beside the share is a clock, minutes and seconds.
    const struct {
      std::int64_t elapsedMs;
      const char* shown;
    } times[] = {{0, "7%   0:00"},
                 {1100, "7%   0:01"},
                 {59999, "7%   0:59"},
                 {125000, "7%   2:05"},
                 {3725000, "7%   62:05"}};
    for (const auto& time : times) {
      form->showProgress(tandra::Progress{"Blank Check", 7, 100, time.elapsedMs, false});
      QCOMPARE(form->Progress->text(), QString(time.shown));
    }
    form->showProgress(tandra::Progress{"", 3, 20, 61000, true});
    QCOMPARE(form->Progress->text(), QString("record 3 of 20   1:01"));
  }

  // The log is there to be read and copied: typed keys change nothing, and Tab goes on to the
  // next control instead of into the text.
  void theStatusLogTakesNoTypingAndTabLeavesIt() {
    VirtualProgrammer programmer{clock_};
    auto form = startIdleWindow(programmer);
    form->clearLog();
    form->insertLogLine("Blank Check took 1.0 s");
    form->Memo1->show();
    form->Memo1->setFocus(Qt::MouseFocusReason);
    for (Qt::Key key :
         {Qt::Key_X, Qt::Key_Space, Qt::Key_Return, Qt::Key_Backspace, Qt::Key_Delete})
      press(key);
    QCOMPARE(form->Memo1->toPlainText(), QString("Blank Check took 1.0 s"));
    QTest::keyClick(form->Memo1, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(form->Memo1->textCursor().selectedText(), QString("Blank Check took 1.0 s"));
    press(Qt::Key_Tab);
    QVERIFY(QApplication::focusWidget() != form->Memo1);
    QCOMPARE(form->Memo1->toPlainText(), QString("Blank Check took 1.0 s"));
  }

  // After the work the keyboard is back on the button that started it, whether a Space on the
  // focused button or its Alt key started it: the next Space repeats it, never Program.
  void theKeyboardGoesBackToTheButtonThatStartedTheWork() {
    VirtualProgrammer programmer{clock_};
    auto form = startIdleWindow(programmer);
    choose(*form, "27C256");
    form->Blank_Chk->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Space);
    QCOMPARE(form->StaticText3->text(), QString("Blank Test Done...."));
    QCOMPARE(QApplication::focusWidget(), form->Blank_Chk);

    QTest::keyClick(form->Blank_Chk, Qt::Key_V, Qt::AltModifier);
    QVERIFY(QTest::qWaitFor([&] { return form->StaticText3->text() == "Verify Test Done...."; }));
    QCOMPARE(QApplication::focusWidget(), form->Verify_Eprom);
    press(Qt::Key_Space);
    QCOMPARE(QApplication::focusWidget(), form->Verify_Eprom);
    QCOMPARE(programCommands(programmer), 0);
  }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
