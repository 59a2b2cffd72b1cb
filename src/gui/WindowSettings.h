#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

class QSettings;

// What the window keeps from one run to the next. Nothing is kept before the first run ends:
// then the window starts as it always has.
struct WindowSettings {
  // The pulse width and voltage last used with one type.
  struct WidthAndVoltage {
    int pulseWidth = 0;
    int vppSetting = 0;
  };

  int deviceRow = -1;  // the device list's row of the last type chosen (kept by its name)
  int sockets = 0;
  QMap<QString, WidthAndVoltage> byType;  // by the type's name, "27C256"
  QString fillText;                       // the byte last typed into the fill entry
  QString openFolder;
  QString saveFolder;
  // The window's place and size as the toolkit records them, frame and all: a place kept
  // without its frame would move the window by the frame's height at every start.
  QByteArray geometry;

  static WindowSettings read(QSettings& store);
  void write(QSettings& store) const;
};
