#pragma once

#include <QPlainTextEdit>

// The hex view's text box: it shows the text it is given and reports keys, clicks and the loss
// of focus; the window decides what they do. Its own caret movement and editing are off.
class HexViewWidget final : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit HexViewWidget(QWidget* parent);

  // Shrinks the font, where it must, until `rows` lines fit the box without scrolling.
  void fitRows(int rows);

 signals:
  void keyDown(int qtKey);
  void keyTyped(char character);
  void keyUp();
  // The caret position the click put the caret at (a line break counts one character).
  void clickedAt(int position);
  // The focus went elsewhere in the window (not to another program or a system pop-up).
  void focusLost();
  // Tab or Shift+Tab was pressed in the view: the window says where the keyboard goes.
  void tabbedAway();
  // Escape was pressed in the view: the view is to close, nothing stored.
  void escaped();
  // Ctrl+G was pressed: the address entry is asked for, as a click on the header's address.
  void addressAsked();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  bool focusNextPrevChild(bool next) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
};
