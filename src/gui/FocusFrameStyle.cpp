#include "gui/FocusFrameStyle.h"

#include <QPainter>
#include <QStyleOption>

void FocusFrameStyle::drawFrame(QPainter* painter, const QRect& outer) {
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

void FocusFrameStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                    QPainter* painter, const QWidget* widget) const {
  if (element == PE_FrameFocusRect) {
    drawFrame(painter, option->rect);
    return;
  }
  QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void FocusFrameStyle::drawControl(ControlElement element, const QStyleOption* option,
                                  QPainter* painter, const QWidget* widget) const {
  QProxyStyle::drawControl(element, option, painter, widget);
  // Some base styles mark a focused button only by a tint of its outline: the frame goes on top,
  // just inside the button's edge.
  if (element == CE_PushButton && (option->state & State_HasFocus)) {
    drawFrame(painter, option->rect.adjusted(1, 1, -1, -1));
  }
}
