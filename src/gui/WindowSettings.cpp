#include "gui/WindowSettings.h"

#include <QSettings>

#include "device/Catalogue.h"

namespace {

QString typeName(int deviceRow) {
  const tandra::Chip* type = tandra::catalogueEntry(deviceRow);
  if (type == nullptr) return {};
  return QString::fromUtf8(type->name.data(), static_cast<qsizetype>(type->name.size()));
}

}  // namespace

WindowSettings WindowSettings::read(QSettings& store) {
  WindowSettings kept;
  // The type is kept by its name, not its row: a type added to the list moves the rows after it.
  const QByteArray type = store.value("device/type").toString().toUtf8();
  kept.deviceRow = tandra::deviceListRow(std::string_view(type.constData(), type.size()));
  kept.sockets = store.value("device/sockets", 0).toInt();
  store.beginGroup("types");
  for (const QString& name : store.childGroups()) {
    kept.byType[name] = {store.value(name + "/pulse", 0).toInt(),
                         store.value(name + "/vpp", 0).toInt()};
  }
  store.endGroup();
  // Earlier runs kept one width and voltage, those of the last type.
  if (const QString last = typeName(kept.deviceRow);
      !last.isEmpty() && !kept.byType.contains(last) && store.contains("device/pulse")) {
    kept.byType[last] = {store.value("device/pulse", 0).toInt(),
                         store.value("device/vpp", 0).toInt()};
  }
  kept.fillText = store.value("buffer/fill").toString();
  kept.openFolder = store.value("folders/open").toString();
  kept.saveFolder = store.value("folders/save").toString();
  kept.geometry = store.value("window/geometry").toByteArray();
  return kept;
}

void WindowSettings::write(QSettings& store) const {
  if (const QString name = typeName(deviceRow); !name.isEmpty()) {
    store.setValue("device/type", name);
    store.setValue("device/sockets", sockets);
  }
  for (auto type = byType.cbegin(); type != byType.cend(); ++type) {
    store.setValue("types/" + type.key() + "/pulse", type.value().pulseWidth);
    store.setValue("types/" + type.key() + "/vpp", type.value().vppSetting);
  }
  // What earlier runs kept in their place.
  for (const char* old : {"device/pulse", "device/vpp", "window/position"}) store.remove(old);
  if (!fillText.isEmpty()) store.setValue("buffer/fill", fillText);
  if (!openFolder.isEmpty()) store.setValue("folders/open", openFolder);
  if (!saveFolder.isEmpty()) store.setValue("folders/save", saveFolder);
  if (!geometry.isEmpty()) store.setValue("window/geometry", geometry);
}
