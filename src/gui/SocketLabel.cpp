#include "gui/SocketLabel.h"

#include <QPainter>
#include <QPainterPath>

SocketLabel::SocketLabel(QWidget* parent) : ClickLabel(parent) {}

void SocketLabel::setMark(Mark mark) {
  if (mark == mark_) return;
  mark_ = mark;
  update();
}

void SocketLabel::paintEvent(QPaintEvent* event) {
  ClickLabel::paintEvent(event);
  if (mark_ == Mark::None) return;
  // The mark's square, inside the frame at the right end, a pixel clear of its edges; the
  // verdicts' words all end short of it.
  const QRect inside = contentsRect();
  const int side = std::min(kMarkRoom, inside.height()) - 2;
  const QRectF box(inside.right() + 1 - kMarkRoom + (kMarkRoom - side) / 2.0,
                   inside.top() + (inside.height() - side) / 2.0, side, side);
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(
      QPen(palette().color(QPalette::WindowText), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  QPainterPath path;
  const auto at = [&box](double x, double y) {
    return QPointF(box.left() + x * box.width(), box.top() + y * box.height());
  };
  if (mark_ == Mark::Passed) {
    path.moveTo(at(0.1, 0.55));
    path.lineTo(at(0.4, 0.85));
    path.lineTo(at(0.9, 0.15));
  } else {
    path.moveTo(at(0.15, 0.15));
    path.lineTo(at(0.85, 0.85));
    path.moveTo(at(0.85, 0.15));
    path.lineTo(at(0.15, 0.85));
  }
  painter.drawPath(path);
}
