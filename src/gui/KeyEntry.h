#pragma once

#include <QLineEdit>

// A one-line entry whose typed characters go to a handler instead of being edited in place:
// the handler decides what the entry then shows. Enter, Escape and Backspace arrive as the
// characters 13, 27 and 8; keys that produce no character (arrows, Delete) are ignored, so the
// caret stays at the end of the text.
class KeyEntry final : public QLineEdit {
  Q_OBJECT

 public:
  using QLineEdit::QLineEdit;

 signals:
  void keyTyped(char character);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
};
