#include "gui/WindowSettings.h"

#include <QSettings>

WindowSettings WindowSettings::read(QSettings& store) {
  WindowSettings kept;
  kept.deviceRow = store.value("device/row", -1).toInt();
  kept.sockets = store.value("device/sockets", 0).toInt();
  kept.pulseWidth = store.value("device/pulse", 0).toInt();
  kept.vppSetting = store.value("device/vpp", 0).toInt();
  kept.fillText = store.value("buffer/fill").toString();
  kept.openFolder = store.value("folders/open").toString();
  kept.saveFolder = store.value("folders/save").toString();
  if (store.contains("window/position")) kept.position = store.value("window/position").toPoint();
  return kept;
}

void WindowSettings::write(QSettings& store) const {
  if (deviceRow >= 0) {
    store.setValue("device/row", deviceRow);
    store.setValue("device/sockets", sockets);
    store.setValue("device/pulse", pulseWidth);
    store.setValue("device/vpp", vppSetting);
  }
  if (!fillText.isEmpty()) store.setValue("buffer/fill", fillText);
  if (!openFolder.isEmpty()) store.setValue("folders/open", openFolder);
  if (!saveFolder.isEmpty()) store.setValue("folders/save", saveFolder);
  if (position) store.setValue("window/position", *position);
}
