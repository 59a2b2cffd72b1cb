#include "gui/WindowPlacement.h"

#include <algorithm>

namespace {
constexpr int kGap = 8;

int clampInto(int at, int length, int roomStart, int roomLength) {
  return std::max(roomStart, std::min(at, roomStart + roomLength - length));
}
}  // namespace

PairPlacement placeSideBySide(const QRect& room, const QRect& mainFrame, const QSize& panelFrame) {
  PairPlacement placed{mainFrame.topLeft(), {}};
  const int top = clampInto(mainFrame.top(), panelFrame.height(), room.top(), room.height());
  const int together = mainFrame.width() + kGap + panelFrame.width();
  if (together > room.width()) {
    // The main window to the left edge, the panel to the right: the main window's buttons and
    // socket labels stay in view beside the panel.
    placed.main.setX(room.left());
    placed.panel = {std::max(room.left(), room.left() + room.width() - panelFrame.width()), top};
    return placed;
  }
  if (mainFrame.right() + kGap + panelFrame.width() <= room.right()) {
    placed.panel = {mainFrame.right() + 1 + kGap, top};
  } else if (mainFrame.left() - kGap - panelFrame.width() >= room.left()) {
    placed.panel = {mainFrame.left() - kGap - panelFrame.width(), top};
  } else {
    // Neither side has room with the main window where it is: the pair is centred.
    placed.main.setX(room.left() + (room.width() - together) / 2);
    placed.panel = {placed.main.x() + mainFrame.width() + kGap, top};
  }
  return placed;
}
