#include "gui/HexViewWidget.h"

#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>

HexViewWidget::HexViewWidget(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setTabChangesFocus(true);  // Tab leaves the view, and so closes it
  setUndoRedoEnabled(false);
  // The whole page, header and sixteen lines, fits the box without scrolling.
  document()->setDocumentMargin(1);
  setFrameShape(QFrame::Box);
  setLineWidth(1);
}

void HexViewWidget::fitRows(int rows) {
  QFont shown = font();
  const int room = height() - 2 * frameWidth() - 2 * static_cast<int>(document()->documentMargin());
  while (shown.pixelSize() > 8 && QFontMetrics(shown).lineSpacing() * rows > room) {
    shown.setPixelSize(shown.pixelSize() - 1);
  }
  setFont(shown);
}

void HexViewWidget::keyPressEvent(QKeyEvent* event) {
  event->accept();
  // Escape means cancel, here as in every list and entry: it never reaches the buffer as 0x1B.
  if (event->key() == Qt::Key_Escape) {
    emit escaped();
    return;
  }
  // Go to an address: never a control character typed into the buffer.
  if (event->key() == Qt::Key_G && event->modifiers() == Qt::ControlModifier) {
    emit addressAsked();
    return;
  }
  emit keyDown(event->key());
  const QString text = event->text();
  if (text.size() == 1 && text[0].unicode() < 0x100) {
    emit keyTyped(static_cast<char>(text[0].unicode()));
  }
}

void HexViewWidget::keyReleaseEvent(QKeyEvent* event) {
  event->accept();
  if (!event->isAutoRepeat()) emit keyUp();
}

void HexViewWidget::mousePressEvent(QMouseEvent* event) {
  setTextCursor(cursorForPosition(event->position().toPoint()));
  event->accept();
  emit clickedAt(textCursor().position());
}

// No selections: a click only places the cursor.
void HexViewWidget::mouseMoveEvent(QMouseEvent* event) {
  event->accept();
}
void HexViewWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  mousePressEvent(event);
}
void HexViewWidget::contextMenuEvent(QContextMenuEvent* event) {
  event->accept();
}

void HexViewWidget::focusOutEvent(QFocusEvent* event) {
  QPlainTextEdit::focusOutEvent(event);
  // Another program taking the focus, or a menu or pop-up of the system, is no move away from
  // the view: the operator comes back to it. A click elsewhere in the window, or Tab, is.
  if (event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason) {
    return;
  }
  emit focusLost();
}

bool HexViewWidget::focusNextPrevChild(bool /*next*/) {
  emit tabbedAway();
  return true;
}
