// What the window keeps between runs, files dropped on it, and a loaded file that changed.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QSettings>

#include "gui/MainForm.h"
#include "gui/PopupList.h"

namespace {

// The one local file a drop carries; empty for anything else.
QString droppedFile(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls() || data->urls().size() != 1) return {};
  const QUrl url = data->urls().first();
  return url.isLocalFile() ? url.toLocalFile() : QString();
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
  // A place on a screen no longer there is no place: the window is centred instead.
  if (kept_.position && QGuiApplication::screenAt(*kept_.position) != nullptr) {
    move(*kept_.position);
  } else {
    centreOnScreen();
  }
}

void TMainForm::keepChoices() {
  if (!settings_) return;
  const tandra::DeviceSettings& chosen = workbench_.settings;
  // A type counts once its socket count is chosen too, and the lists are closed again.
  const bool choosing = Device_Box->isVisible() || Num_Of_Devices->isVisible();
  if (!choosing && chosen.deviceFamily != 0 && chosen.socketCount > 0) {
    kept_.deviceRow = chosen.deviceListRow;
    kept_.sockets = chosen.socketCount;
    kept_.pulseWidth = chosen.pulseWidth;
    kept_.vppSetting = chosen.vppSetting;
  }
  kept_.fillText = QString::fromStdString(workbench_.buffer.lastFillText);
  kept_.openFolder = dialogs_->openFolder;
  kept_.saveFolder = dialogs_->saveFolder;
  if (isVisible()) kept_.position = pos();
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
  const tandra::DeviceSettings& chosen = workbench_.settings;
  if (chosen.deviceFamily == 0 || chosen.deviceListRow != kept_.deviceRow) return;
  if (kept_.pulseWidth > 0) {
    workbench_.selection.restoreWidthAndVoltage(kept_.pulseWidth, kept_.vppSetting);
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
