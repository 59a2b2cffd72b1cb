#include "gui/PopupList.h"

#include <QKeyEvent>

PopupList::PopupList(QWidget* parent) : QListWidget(parent) {
  connect(this, &QListWidget::itemClicked, this, &PopupList::picked);
}

void PopupList::fitRows() {
  setUniformItemSizes(true);
  // Every row shows: a scroll bar would only take room from them.
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QFont shown = font();
  const int room = height() - 2 * frameWidth();
  while (shown.pixelSize() > 8 && count() > 0) {
    setFont(shown);
    if (sizeHintForRow(0) * count() <= room) break;
    shown.setPixelSize(shown.pixelSize() - 1);
  }
}

void PopupList::keyPressEvent(QKeyEvent* event) {
  // A list that is not shown takes no keys: they would change a choice nobody sees.
  if (!isVisible()) {
    event->ignore();
    return;
  }
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    emit cancelled();
    return;
  }
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentRow() >= 0) {
    event->accept();
    emit picked();
    return;
  }
  QListWidget::keyPressEvent(event);
}
