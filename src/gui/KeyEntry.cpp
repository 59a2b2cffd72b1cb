#include "gui/KeyEntry.h"

#include <QContextMenuEvent>
#include <QKeyEvent>

void KeyEntry::keyPressEvent(QKeyEvent* event) {
  if (!isVisible()) {  // a hidden entry takes no keys
    event->ignore();
    return;
  }
  char character = 0;
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      character = '\r';
      break;
    case Qt::Key_Escape:
      character = '\x1B';
      break;
    case Qt::Key_Backspace:
      character = '\b';
      break;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      QLineEdit::keyPressEvent(event);
      return;
    default: {
      const QString text = event->text();
      if (text.size() == 1 && text[0].unicode() < 0x100) {
        character = static_cast<char>(text[0].unicode());
      }
      break;
    }
  }
  event->accept();
  if (character != 0) emit keyTyped(character);
}

// No paste or cut behind the handler's back.
void KeyEntry::contextMenuEvent(QContextMenuEvent* event) {
  event->accept();
}
