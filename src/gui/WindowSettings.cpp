#include "gui/WindowSettings.h"

#include <QSettings>

#include "device/Catalogue.h"

WindowSettings WindowSettings::read(QSettings& store) {
  WindowSettings kept;
  // The type is kept by its name, not its row: a type added to the list moves the rows after it.
  const QByteArray type = store.value("device/type").toString().toUtf8();
  kept.deviceRow = tandra::deviceListRow(std::string_view(type.constData(), type.size()));
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
  const tandra::DeviceType* type = tandra::catalogueEntry(deviceRow);
  if (type != nullptr) {
    store.setValue("device/type", QString::fromUtf8(type->name.data(),
                                                    static_cast<qsizetype>(type->name.size())));
    store.setValue("device/sockets", sockets);
    store.setValue("device/pulse", pulseWidth);
    store.setValue("device/vpp", vppSetting);
  }
  if (!fillText.isEmpty()) store.setValue("buffer/fill", fillText);
  if (!openFolder.isEmpty()) store.setValue("folders/open", openFolder);
  if (!saveFolder.isEmpty()) store.setValue("folders/save", saveFolder);
  if (position) store.setValue("window/position", *position);
}
