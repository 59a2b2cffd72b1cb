#pragma once

#include <QProxyStyle>

// The window's style with a focus frame that can be seen on every face it stands on: a black
// ring two pixels wide with a white line inside it, on the red and navy panels as on grey.
class FocusFrameStyle final : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;

  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
};
