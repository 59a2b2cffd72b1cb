// What the window keeps between runs, files dropped on it, and a loaded file that changed.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QGuiApplication>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>

#include "device/Catalogue.h"
#include "gui/MainForm.h"
#include "gui/PopupList.h"

namespace {

// The one local file a drop carries, as the bytes of its name; empty for anything else. A name
// that is not UTF-8 has no QString that names it, but its URL carries its bytes
// percent-encoded, and the loaders take names as bytes.
std::string droppedFile(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls() || data->urls().size() != 1) return {};
  const QUrl url = data->urls().first();
  if (!url.isLocalFile()) return {};
  const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
  if (url.host().isEmpty() && !tandra::isUtf8(bytes.toStdString())) return bytes.toStdString();
  return url.toLocalFile().toStdString();
}

bool mayDrop(const QMimeData* data) {
  return !droppedFile(data).empty();
}

QString typeName(const tandra::Chip& type) {
  return QString::fromUtf8(type.name.data(), static_cast<qsizetype>(type.name.size()));
}

// The Vpp button's settings 1 to 3 are 25, 21 and 12.5 V: a lower setting is a higher voltage.
bool vppAboveRating(const tandra::Chip& type, int vppSetting) {
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
  const tandra::DeviceSettings chosen = workbench_.session.settings();
  // A type counts once its socket count is chosen too, and the lists are closed again.
  const bool choosing = Device_Box->isVisible() || Num_Of_Devices->isVisible();
  const tandra::Chip* type = tandra::catalogueEntry(chosen.deviceListRow);
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
  const tandra::Chip* type = tandra::catalogueEntry(workbench_.session.settings().deviceListRow);
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
  const tandra::Chip* type = tandra::catalogueEntry(workbench_.session.settings().deviceListRow);
  const int setting = workbench_.session.settings().vppSetting;
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
  // Taken as a copy: a source told "move" would delete the file once it is dropped.
  if (handlerDepth_ == 0 && Load_But->isEnabled() && mayDrop(event->mimeData())) {
    event->setDropAction(Qt::CopyAction);
    event->accept();
  }
}

void TMainForm::dropEvent(QDropEvent* event) {
  const std::string path = droppedFile(event->mimeData());
  if (path.empty() || handlerDepth_ > 0 || !Load_But->isEnabled()) return;
  event->setDropAction(Qt::CopyAction);
  event->accept();
  // The file's own content and name say its format, as for tandra-cli: the format last chosen
  // may be another file's.
  handle([this, path] { loadAndShowChecksum(path, std::nullopt); });
}

bool TMainForm::reloadIfChanged() {
  if (loadedFile_.path.empty()) return true;
  std::error_code missing;
  const auto modified = std::filesystem::last_write_time(loadedFile_.path, missing);
  if (missing) return true;
  const std::uintmax_t size = std::filesystem::file_size(loadedFile_.path, missing);
  if (modified == loadedFile_.modified && size == loadedFile_.size) return true;
  // Asked once for each change: a No programs the buffer as it is, and is not asked again.
  loadedFile_.modified = modified;
  loadedFile_.size = size;
  const std::string text = "The file " + tandra::shownName(loaderName(loadedFile_.path)) +
                           " has changed since it was loaded.\r\nLoad it again before programming?";
  if (!askYesNo(text, std::nullopt)) return true;
  const LoadedFile again = loadedFile_;
  return loadAndShowChecksum(loaderName(again.path), again.asked);
}
