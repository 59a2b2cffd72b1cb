#pragma once

#include <QPoint>
#include <QString>
#include <optional>

class QSettings;

// What the window keeps from one run to the next. Nothing is kept before the first run ends:
// then the window starts as it always has.
struct WindowSettings {
  int deviceRow = -1;  // the device list's row of the last type chosen (kept by its name)
  int sockets = 0;
  int pulseWidth = 0;  // the width and voltage last used with that type
  int vppSetting = 0;
  QString fillText;  // the byte last typed into the fill entry
  QString openFolder;
  QString saveFolder;
  std::optional<QPoint> position;  // the window's top left on the desktop

  static WindowSettings read(QSettings& store);
  void write(QSettings& store) const;
};
