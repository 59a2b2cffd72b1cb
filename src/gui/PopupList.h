#pragma once

#include <QListWidget>

// A pop-up list whose row is picked by a click or, from the keyboard, by Enter; Escape leaves it
// without a choice.
class PopupList final : public QListWidget {
  Q_OBJECT

 public:
  explicit PopupList(QWidget* parent);

  // Shrinks the font, where it must, until every row shows without scrolling.
  void fitRows();

 signals:
  void picked();
  // Escape: the list closes without a choice.
  void cancelled();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};
