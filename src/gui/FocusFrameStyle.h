#pragma once

#include <QProxyStyle>

// The window's style with a focus frame that can be seen on every face it stands on: a black
// ring two pixels wide with a white line inside it, on the red and navy panels as on grey.
// Buttons get it around their face; lists around their current row.
class FocusFrameStyle final : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;

  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override;

  static void drawFrame(QPainter* painter, const QRect& outer);
};
