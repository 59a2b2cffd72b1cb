// The hex view and its address entry.
#include <QTextBlock>
#include <QTextCursor>

#include "gui/HexViewWidget.h"
#include "gui/KeyEntry.h"
#include "gui/MainForm.h"
#include "image/LineEntry.h"

using tandra::HexView;

namespace {

HexView::Key viewKey(int qtKey) {
  switch (qtKey) {
    case Qt::Key_PageUp:
      return HexView::Key::PageUp;
    case Qt::Key_PageDown:
      return HexView::Key::PageDown;
    case Qt::Key_End:
      return HexView::Key::End;
    case Qt::Key_Home:
      return HexView::Key::Home;
    case Qt::Key_Left:
      return HexView::Key::Left;
    case Qt::Key_Up:
      return HexView::Key::Up;
    case Qt::Key_Right:
      return HexView::Key::Right;
    case Qt::Key_Down:
      return HexView::Key::Down;
    default:
      return HexView::Key::Other;
  }
}

QString latin1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QString shownPage(const HexView& view) {
  std::string text = view.pageText();
  std::erase(text, '\r');  // the box counts a line break as one character
  return latin1(text);
}

}  // namespace

void TMainForm::replaceViewLine(int line, const std::string& text) {
  QTextCursor cursor(Edit_1->document()->findBlockByNumber(line));
  cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  cursor.insertText(latin1(text));
}

void TMainForm::placeViewCaret() {
  QTextCursor cursor = Edit_1->textCursor();
  cursor.setPosition(HexView::toSingleBreakPosition(workbench_.view.caretPosition()));
  Edit_1->setTextCursor(cursor);
}

void TMainForm::renderView() {
  Edit_1->setPlainText(shownPage(workbench_.view));
  placeViewCaret();
  Edit_1->show();
  Edit_1->setFocus();
  processMessages();
}

void TMainForm::refreshView() {
  if (!Edit_1->isVisible()) return;
  const QString page = shownPage(workbench_.view);
  if (Edit_1->toPlainText() == page) return;
  Edit_1->setPlainText(page);
  placeViewCaret();
}

void TMainForm::applyViewEffect(const HexView::Effect& effect) {
  if (effect.renderPage) renderView();
  if (effect.writeHeader) replaceViewLine(0, workbench_.view.headerLine());
  if (effect.byteLine >= 0) {
    replaceViewLine(effect.byteLine + 1, workbench_.view.dataLine(effect.byteLine));
  }
}

void TMainForm::EditClick() {
  handle([this] {
    workbench_.IdleState();
    applyViewEffect(workbench_.view.open());
  });
}

void TMainForm::Edit_1KeyDown(int qtKey) {
  processMessages();
  applyViewEffect(workbench_.view.KeyDown(viewKey(qtKey)));
  placeViewCaret();
}

void TMainForm::Edit_1KeyPress(char character) {
  applyViewEffect(workbench_.Edit_1KeyPress(character));
}

void TMainForm::Edit_1KeyUp() {
  placeViewCaret();
}

void TMainForm::Edit_1MouseDown(int position) {
  const HexView::Effect effect =
      workbench_.view.MouseDown(HexView::fromSingleBreakPosition(position));
  if (effect.openAddressEntry) openAddressEntry();
  applyViewEffect(effect);
  placeViewCaret();
}

void TMainForm::openAddressEntry() {
  Chg_Edit_Add->show();
  Chg_Edit_Add->setFocus();  // the view loses the focus and hides...
  Chg_Edit_Add->clear();
  Edit_1->show();  // ...and is shown again beside the entry
}

void TMainForm::Edit_1Exit() {
  Edit_1->hide();
}

void TMainForm::Chg_Edit_AddKeyPress(char character) {
  if (character == tandra::LineEntry::kEscape) {
    // The entry closes as it opened, empty; the view stays at its address.
    Edit_1->setFocus();
    Chg_Edit_Add->hide();
    Chg_Edit_Add->clear();
    return;
  }
  if (character == tandra::LineEntry::kEnter) {
    Edit_1->setFocus();
    Chg_Edit_Add->hide();
    const HexView::Effect effect =
        workbench_.view.addressEntered(Chg_Edit_Add->text().toStdString());
    // Rendering shows the view again, also when it was hidden while the entry was open.
    applyViewEffect(effect);
    return;
  }
  if (!HexView::addressEntryTakes(character)) return;
  QString text = Chg_Edit_Add->text();
  if (character == '\b') {
    text.chop(1);
  } else if (text.size() < Chg_Edit_Add->maxLength()) {
    text += QChar(character).toUpper();
  }
  Chg_Edit_Add->setText(text);
}
