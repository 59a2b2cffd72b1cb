#include "gui/PopupList.h"

#include <QKeyEvent>

PopupList::PopupList(QWidget* parent) : QListWidget(parent) {
  connect(this, &QListWidget::itemClicked, this, &PopupList::picked);
}

void PopupList::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentRow() >= 0) {
    event->accept();
    emit picked();
    return;
  }
  QListWidget::keyPressEvent(event);
}
