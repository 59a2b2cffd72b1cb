// What the window keeps between runs, files dropped on it, and a loaded file that changed.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>

#include "device/Catalogue.h"
#include "gui/MainForm.h"
#include "gui/PopupList.h"

namespace {

// The one local file a drop carries; empty for anything else.
QString droppedFile(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls() || data->urls().size() != 1) return {};
  const QUrl url = data->urls().first();
  return url.isLocalFile() ? url.toLocalFile() : QString();
}

QString typeName(const tandra::DeviceType& type) {
  return QString::fromUtf8(type.name.data(), static_cast<qsizetype>(type.name.size()));
}

// The Vpp button's settings 1 to 3 are 25, 21 and 12.5 V: a lower setting is a higher voltage.
bool vppAboveRating(const tandra::DeviceType& type, int vppSetting) {
  return vppSetting >= 1 && vppSetting < tandra::vppSetting(type.ratedVpp);
}

std::string_view voltsText(int vppSetting) {
  return tandra::voltsText(static_cast<tandra::RatedVpp>(vppSetting));
}

}  // namespace

void TMainForm::setSettings(std::unique_ptr<QSettings> settings) {
  settings_ = std::move(settings);
}

void TMainForm::readSettings() {
  if (!settings_) settings_ = std::make_unique<QSettings>();
  kept_ = WindowSettings::read(*settings_);
  dialogs_->openFolder = kept_.openFolder;
  dialogs_->saveFolder = kept_.saveFolder;
  workbench_.buffer.lastFillText = kept_.fillText.toStdString();
  // The toolkit puts a window kept on a screen no longer there onto one that is; one never kept
  // (or kept in a form it cannot read) is centred.
  if (kept_.geometry.isEmpty() || !restoreGeometry(kept_.geometry)) centreOnScreen();
}

void TMainForm::keepChoices() {
  if (!settings_) return;
  const tandra::DeviceSettings& chosen = workbench_.settings;
  // A type counts once its socket count is chosen too, and the lists are closed again.
  const bool choosing = Device_Box->isVisible() || Num_Of_Devices->isVisible();
  const tandra::DeviceType* type = tandra::catalogueEntry(chosen.deviceListRow);
  if (!choosing && type != nullptr && chosen.socketCount > 0) {
    kept_.deviceRow = chosen.deviceListRow;
    kept_.sockets = chosen.socketCount;
    kept_.byType[typeName(*type)] = {chosen.pulseWidth, chosen.vppSetting};
  }
  kept_.fillText = QString::fromStdString(workbench_.buffer.lastFillText);
  kept_.openFolder = dialogs_->openFolder;
  kept_.saveFolder = dialogs_->saveFolder;
  if (isVisible()) kept_.geometry = saveGeometry();
  kept_.write(*settings_);
}

void TMainForm::offerKeptChoices() {
  if (Device_Box->isVisible() && kept_.deviceRow >= 0 && kept_.deviceRow < Device_Box->count()) {
    Device_Box->setCurrentRow(kept_.deviceRow);
  }
  if (Num_Of_Devices->isVisible() && kept_.sockets > 0 && kept_.sockets < Num_Of_Devices->count()) {
    Num_Of_Devices->setCurrentRow(kept_.sockets);
  }
}

void TMainForm::restoreKeptWidthAndVoltage() {
  const tandra::DeviceType* type = tandra::catalogueEntry(workbench_.settings.deviceListRow);
  if (type != nullptr) {
    const auto kept = kept_.byType.constFind(typeName(*type));
    if (kept != kept_.byType.cend() && kept->pulseWidth > 0) {
      // A voltage above the chip's own is the operator's choice of the moment, told on the
      // status line; it is never put back unasked, and the type's own stands instead.
      const bool aboveRating = vppAboveRating(*type, kept->vppSetting);
      workbench_.selection.restoreWidthAndVoltage(kept->pulseWidth,
                                                  aboveRating ? 0 : kept->vppSetting);
    }
  }
  showVppAboveRating();
}

void TMainForm::showVppAboveRating() {
  const tandra::DeviceType* type = tandra::catalogueEntry(workbench_.settings.deviceListRow);
  const int setting = workbench_.settings.vppSetting;
  if (type != nullptr && vppAboveRating(*type, setting)) {
    const std::string warning = "Vpp = " + std::string(voltsText(setting)) + " is above the " +
                                std::string(type->name) + "'s " +
                                std::string(voltsText(tandra::vppSetting(type->ratedVpp))) + " V";
    if (vppWarning_.isEmpty()) statusBeforeVppWarning_ = StaticText3->text();
    vppWarning_ = QString::fromStdString(warning);
    setCaption(tandra::Control::StaticText3, warning);
  } else if (!vppWarning_.isEmpty()) {
    // The line the warning stood in for comes back, unless something newer took its place.
    if (StaticText3->text() == vppWarning_) {
      setCaption(tandra::Control::StaticText3, statusBeforeVppWarning_.toStdString());
    }
    vppWarning_.clear();
  }
}

void TMainForm::afterHandler() {
  refreshView();
  offerKeptChoices();
  keepChoices();
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
  // Only while the Load button could be clicked: not during an operation or an open list.
  if (handlerDepth_ == 0 && Load_But->isEnabled() && !droppedFile(event->mimeData()).isEmpty()) {
    event->acceptProposedAction();
  }
}

void TMainForm::dropEvent(QDropEvent* event) {
  const QString path = droppedFile(event->mimeData());
  if (path.isEmpty() || handlerDepth_ > 0 || !Load_But->isEnabled()) return;
  event->acceptProposedAction();
  handle([this, path] { loadAndShowChecksum(path.toStdString()); });
}

bool TMainForm::reloadIfChanged() {
  if (loadedFile_.path.isEmpty()) return true;
  const QFileInfo now(loadedFile_.path);
  if (!now.exists()) return true;
  if (now.lastModified() == loadedFile_.modified && now.size() == loadedFile_.size) return true;
  // Asked once for each change: a No programs the buffer as it is, and is not asked again.
  loadedFile_.modified = now.lastModified();
  loadedFile_.size = now.size();
  const std::string text = "The file " + loadedFile_.path.toStdString() +
                           " has changed since it was loaded.\r\nLoad it again before programming?";
  if (!askYesNo(text, std::nullopt)) return true;
  return loadAndShowChecksum(loadedFile_.path.toStdString());
}
