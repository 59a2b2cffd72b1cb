#include "gui/FocusFrameStyle.h"

#include <QPainter>
#include <QStyleOption>

void FocusFrameStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                    QPainter* painter, const QWidget* widget) const {
  if (element != PE_FrameFocusRect) {
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    return;
  }
  const QRect outer = option->rect;
  if (outer.width() < 6 || outer.height() < 6) return;
  painter->save();
  painter->setRenderHint(QPainter::Antialiasing, false);
  painter->setBrush(Qt::NoBrush);
  painter->setPen(QPen(Qt::black, 1));
  painter->drawRect(outer.adjusted(0, 0, -1, -1));
  painter->drawRect(outer.adjusted(1, 1, -2, -2));
  painter->setPen(QPen(Qt::white, 1));
  painter->drawRect(outer.adjusted(2, 2, -3, -3));
  painter->restore();
}
