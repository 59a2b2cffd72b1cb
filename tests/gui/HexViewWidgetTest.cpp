#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QtTest>
#include <memory>

#include "WindowFixture.h"
#include "gui/HexViewWidget.h"
#include "gui/KeyEntry.h"

// The hex view through the real widget: keys and clicks reach the view's rules, and what the
// box shows follows.
class HexViewWidgetTest : public QObject, public WindowFixture {
  Q_OBJECT

 private:
  std::unique_ptr<tandra::VirtualProgrammer> programmer_;
  std::unique_ptr<TMainForm> form_;

  QString line(int n) const { return form_->Edit_1->document()->findBlockByNumber(n).text(); }
  int caret() const { return form_->Edit_1->textCursor().position(); }
  // The box's data lines against the buffer they stand for.
  bool screenShowsTheBuffer() const {
    for (int row = 0; row < tandra::HexView::kRows; ++row) {
      if (line(row + 1).toStdString() != form_->workbench().view.dataLine(row)) return false;
    }
    return true;
  }
  // Data line `row`, high digit of byte `column`, a line break counting one character.
  static int digitPosition(int row, int column) { return 73 + 74 * row + 7 + 3 * column; }
  // Clicks at a caret position of the box (a line break counting one character).
  void clickAt(int position) {
    QTextCursor cursor(form_->Edit_1->document());
    cursor.setPosition(position);
    const QRect rect = form_->Edit_1->cursorRect(cursor);
    QTest::mouseClick(form_->Edit_1->viewport(), Qt::LeftButton, {},
                      QPoint(rect.left() + 2, rect.center().y()));
  }

 private slots:
  void init() {
    resetScript();
    programmer_ = std::make_unique<tandra::VirtualProgrammer>(clock_);
    form_ = startWindow(*programmer_);
    QVERIFY(form_->Device_Box->isVisible());
    choose(*form_, "2716");
    QApplication::setActiveWindow(form_.get());
    QTest::mouseClick(form_->Edit, Qt::LeftButton);
    QVERIFY(form_->Edit_1->isVisible());
  }
  void cleanup() { form_.reset(); }

  void openingShowsTheFirstPageWithTheCaretOnByteZero() {
    QCOMPARE(form_->Edit_1->document()->blockCount(), 17);
    QCOMPARE(line(0), QString("Address = 00000              Hex Data = 00                Ascii "
                              "Data = ."));
    QVERIFY(line(16).startsWith("000F0  00 00"));
    QCOMPARE(caret(), 80);  // before the first digit of byte 0
  }

  void typedDigitsRewriteOneLineAndReachTheBuffer() {
    int changes = 0;
    int changedCharacters = 0;
    connect(form_->Edit_1->document(), &QTextDocument::contentsChange,
            [&](int, int removed, int added) {
              ++changes;
              changedCharacters = std::max({changedCharacters, removed, added});
            });
    QTest::keyClick(form_->Edit_1, Qt::Key_4);
    const int afterFirstDigit = changes;
    QTest::keyClick(form_->Edit_1, Qt::Key_1);
    QCOMPARE(form_->workbench().session.image()[0], std::uint8_t{0x41});
    QVERIFY(line(1).startsWith("00000  41 00"));
    QCOMPARE(line(1).right(16), QString("A..............."));
    QVERIFY(changedCharacters <= 73);  // a line at a time, never the page
    QVERIFY(afterFirstDigit >= 1);
    QCOMPARE(caret(), 80 + 3);  // the next byte's high digit
  }

  void arrowAndPageKeysMoveTheCursorAndThePage() {
    QTest::keyClick(form_->Edit_1, Qt::Key_Right);
    QTest::keyClick(form_->Edit_1, Qt::Key_Down);
    QCOMPARE(form_->workbench().view.cursorAddress(), 0x11);
    QVERIFY(line(0).startsWith("Address = 00011"));
    QTest::keyClick(form_->Edit_1, Qt::Key_PageDown);
    QVERIFY(line(1).startsWith("00100"));
    for (int i = 0; i < 10; ++i) QTest::keyClick(form_->Edit_1, Qt::Key_PageDown);
    QVERIFY(line(1).startsWith("00700"));  // a 2716 ends there
    QVERIFY(line(16).startsWith("007F0"));
  }

  void keysAfterTheLastByteOfALineKeepTheCursorOnThePage() {
    clickAt(digitPosition(0, 15));
    QTest::keyClicks(form_->Edit_1, "AB");
    QTest::keyClick(form_->Edit_1, Qt::Key_Right);
    QVERIFY(line(0).startsWith("Address = 00011"));
    QCOMPARE(caret(), digitPosition(1, 1));
    QTest::keyClicks(form_->Edit_1, "12");
    QCOMPARE(form_->workbench().session.image()[0x11], std::uint8_t{0x12});
    QVERIFY(screenShowsTheBuffer());

    clickAt(digitPosition(15, 15));
    QTest::keyClicks(form_->Edit_1, "CD");
    QTest::keyClick(form_->Edit_1, Qt::Key_Down);
    QVERIFY(line(0).startsWith("Address = 00110"));
    QTest::keyClicks(form_->Edit_1, "77");
    QCOMPARE(form_->workbench().session.image()[0xFF], std::uint8_t{0xCD});
    QCOMPARE(form_->workbench().session.image()[0x110], std::uint8_t{0x77});
    QVERIFY(line(0).startsWith("Address = "));
    QVERIFY(screenShowsTheBuffer());
  }

  void clicksPlaceTheCursorInBothAreas() {
    clickAt(73 + 74 * 3 + 7 + 3 * 5 + 1);  // data line 3, low digit of byte 5
    QCOMPARE(form_->workbench().view.cursorAddress(), 0x35);
    QCOMPARE(form_->workbench().view.nibbleFlag, 1);
    clickAt(73 + 74 * 2 + 57 + 4);  // data line 2, character of byte 4
    QCOMPARE(form_->workbench().view.areaFlag, 1);
    QTest::keyClicks(form_->Edit_1, "Z");
    QCOMPARE(form_->workbench().session.image()[0x24], std::uint8_t{'Z'});
    QCOMPARE(form_->workbench().view.cursorColumn, 5);
  }

  void headerAddressOpensTheAddressEntryAndEnterJumps() {
    clickAt(12);
    QVERIFY(form_->Chg_Edit_Add->isVisible());
    QVERIFY(form_->Edit_1->isVisible());
    // Escape closes the entry as it opened, the view where it was.
    QTest::keyClicks(form_->Chg_Edit_Add, "12");
    QTest::keyClick(form_->Chg_Edit_Add, Qt::Key_Escape);
    QVERIFY(!form_->Chg_Edit_Add->isVisible());
    QVERIFY(form_->Edit_1->isVisible());
    QCOMPARE(QApplication::focusWidget(), form_->Edit_1);
    QVERIFY(line(1).startsWith("00000"));

    clickAt(12);
    QTest::keyClicks(form_->Chg_Edit_Add, "5gf0");
    QCOMPARE(form_->Chg_Edit_Add->text(), QString("5F0"));
    QTest::keyClick(form_->Chg_Edit_Add, Qt::Key_Return);
    QVERIFY(!form_->Chg_Edit_Add->isVisible());
    QVERIFY(form_->Edit_1->isVisible());
    QVERIFY(line(1).startsWith("005F0"));

    // The same entry from the keyboard, named in the list of keys.
    QTest::keyClick(form_->Edit_1, Qt::Key_G, Qt::ControlModifier);
    QVERIFY(form_->Chg_Edit_Add->isVisible());
    QCOMPARE(QApplication::focusWidget(), form_->Chg_Edit_Add);
    QCOMPARE(form_->workbench().session.image()[0x5F0],
             std::uint8_t{0x00});  // nothing typed into the view
    QTest::keyClicks(form_->Chg_Edit_Add, "700");
    QTest::keyClick(form_->Chg_Edit_Add, Qt::Key_Return);
    QVERIFY(line(1).startsWith("00700"));
    QCOMPARE(QApplication::focusWidget(), form_->Edit_1);
    QTest::keyClick(form_->Edit_1, Qt::Key_F1);
    QVERIFY(!boxes_.isEmpty() && boxes_.last().contains("Ctrl+G"));
  }

  // A button's Alt shortcut runs its handler with the view still open and focused: whatever it
  // did to the buffer shows at once.
  void theViewShowsTheBufferAfterShortcutsThatChangeIt() {
    QTemporaryDir folder;
    const QString path = folder.filePath("rom.bin");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(0x800, '\x5A'));
    file.close();
    files_ << path;
    QTest::keyClick(form_->Edit_1, Qt::Key_L, Qt::AltModifier);
    QVERIFY(QTest::qWaitFor([&] { return files_.isEmpty(); }));  // a mnemonic clicks a moment later
    QCOMPARE(form_->workbench().session.image()[0], std::uint8_t{0x5A});
    QVERIFY(form_->Edit_1->isVisible());
    QVERIFY(screenShowsTheBuffer());
    QVERIFY(line(1).contains("5A 5A"));

    programmer_->chip(1).cells()[0x10] = 0x3C;
    QApplication::setActiveWindow(form_.get());
    form_->Edit_1->setFocus();
    QTest::keyClick(form_->Edit_1, Qt::Key_M, Qt::AltModifier);
    QVERIFY(QTest::qWaitFor([&] { return form_->workbench().session.image()[0x10] == 0x3C; }));
    QCOMPARE(form_->workbench().session.image()[0x10], std::uint8_t{0x3C});
    QVERIFY(screenShowsTheBuffer());
  }

  // Escape closes the view without storing anything, in either area, as it closes every list
  // and entry; other control characters typed in the ASCII area are stored as they are.
  void escapeClosesTheViewAndStoresNothing() {
    const int asciiOfByte24 = 73 + 74 * 2 + 57 + 4;
    for (const int position : {digitPosition(2, 4), asciiOfByte24}) {
      form_->workbench().session.image()[0x24] = 0x42;
      QTest::mouseClick(form_->Edit, Qt::LeftButton);
      clickAt(position);
      QCOMPARE(form_->workbench().view.cursorAddress(), 0x24);
      QTest::keyClick(form_->Edit_1, Qt::Key_Escape);
      QCOMPARE(form_->workbench().session.image()[0x24], std::uint8_t{0x42});
      QVERIFY(!form_->Edit_1->isVisible());
      QCOMPARE(QApplication::focusWidget(), form_->Edit);
    }
    QTest::mouseClick(form_->Edit, Qt::LeftButton);
    clickAt(asciiOfByte24);
    QTest::keyClick(form_->Edit_1, Qt::Key_Backspace);
    QCOMPARE(form_->workbench().session.image()[0x24], std::uint8_t{0x08});
    QVERIFY(form_->Edit_1->isVisible());
  }

  // Tab leaves the view for the button that opened it, never for Program Device.
  void tabFromTheViewGoesToTheEditButton() {
    for (Qt::Key key : {Qt::Key_Tab, Qt::Key_Backtab}) {
      QTest::mouseClick(form_->Edit, Qt::LeftButton);
      QVERIFY(form_->Edit_1->hasFocus());
      QTest::keyClick(form_->Edit_1, key);
      QCOMPARE(QApplication::focusWidget(), form_->Edit);
      QVERIFY(!form_->Edit_1->isVisible());
    }
  }

  void losingTheFocusHidesTheView() {
    form_->Chk_Sum_But->setFocus();
    QVERIFY(!form_->Edit_1->isVisible());
  }

  // Only a loss of focus inside the window closes the view: another program taking the focus,
  // or a pop-up of the system, leaves it open for when the operator comes back.
  void anotherProgramOrASystemPopupLeavesTheViewOpen() {
    QWidget otherProgram;
    otherProgram.show();
    QApplication::setActiveWindow(&otherProgram);
    QVERIFY(!form_->Edit_1->hasFocus());
    QVERIFY(form_->Edit_1->isVisible());
    QApplication::setActiveWindow(form_.get());
    QVERIFY(form_->Edit_1->isVisible());
    QVERIFY(form_->Edit_1->hasFocus());
    QFocusEvent popup(QEvent::FocusOut, Qt::PopupFocusReason);
    QApplication::sendEvent(form_->Edit_1, &popup);
    QVERIFY(form_->Edit_1->isVisible());
  }

  void enterInTheEntryReopensAHiddenView() {
    clickAt(12);
    clickAt(80);  // back into the view, the entry still open
    form_->Chk_Sum_But->setFocus();
    QVERIFY(!form_->Edit_1->isVisible());
    QVERIFY(form_->Chg_Edit_Add->isVisible());
    QTest::keyClicks(form_->Chg_Edit_Add, "700");
    QTest::keyClick(form_->Chg_Edit_Add, Qt::Key_Return);
    QVERIFY(form_->Edit_1->isVisible());
    QVERIFY(line(1).startsWith("00700"));
  }
};

QTEST_MAIN(HexViewWidgetTest)
#include "HexViewWidgetTest.moc"
