#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

// Where the main window and the production panel stand, their frames included.
struct PairPlacement {
  QPoint main;
  QPoint panel;
};

// Both windows in view on the bench: side by side where the screen's room holds both (the main
// window stays where it is when the panel fits beside it, and moves only as far as it must),
// else the main window at the room's left edge and the panel at its right edge, over the right
// part of the main window.
PairPlacement placeSideBySide(const QRect& room, const QRect& mainFrame, const QSize& panelFrame);
