#include "gui/Dialogs.h"

#include "files/FileFormat.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QStringList>

QStringList fileDialogFilters(bool everyName) {
  // Files come under many names (.s19, .ihx, .rom...); the default extensions stay Bin and Hex.
  QStringList filters;
  for (const tandra::DialogFilter& filter : tandra::dialogFilters(everyName)) {
    filters << QString::fromStdString(filter.name + " (" + filter.patterns + ")");
  }
  return filters;
}

namespace {

// A message box with a place of its own, or else the middle of the screen that holds its
// window (Qt would centre it on the window). The size is final only when the box is shown, so
// that is when it is placed.
class PlacedBox final : public QMessageBox {
 public:
  PlacedBox(Icon icon, const QString& title, const QString& text, StandardButtons buttons,
            QWidget* parent, std::optional<tandra::ScreenPoint> topLeft)
      : QMessageBox(icon, title, text, buttons, parent), topLeft_(topLeft) {}

 protected:
  void showEvent(QShowEvent* event) override {
    QMessageBox::showEvent(event);
    if (topLeft_) {
      move(topLeft_->left, topLeft_->top);
      return;
    }
    const QWidget* parent = parentWidget();
    const QScreen* shownOn = parent != nullptr ? parent->screen() : screen();
    if (shownOn == nullptr) return;
    QRect frame = frameGeometry();
    frame.moveCenter(shownOn->availableGeometry().center());
    move(frame.topLeft());
  }

 private:
  std::optional<tandra::ScreenPoint> topLeft_;
};

QMessageBox::Icon iconFor(tandra::BoxKind kind) {
  switch (kind) {
    case tandra::BoxKind::Error:
      return QMessageBox::Critical;
    case tandra::BoxKind::Warning:
      return QMessageBox::Warning;
    case tandra::BoxKind::Information:
      return QMessageBox::Information;
  }
  return QMessageBox::NoIcon;
}

QString runFileDialog(QWidget* parent, QFileDialog::AcceptMode mode, const QString& folder,
                      const QString& suffix, int filterIndex, const QStringList& filters) {
  QFileDialog dialog(parent);
  if (!folder.isEmpty()) dialog.setDirectory(folder);
  dialog.setObjectName(mode == QFileDialog::AcceptOpen ? "OpenDialog1" : "SaveDialog1");
  dialog.setAcceptMode(mode);
  dialog.setNameFilters(filters);
  const int index = filterIndex >= 1 && filterIndex <= filters.size() ? filterIndex - 1 : 0;
  dialog.selectNameFilter(filters[index]);
  // A save names a new file, which gets the format's extension; an open takes a typed name as
  // it stands, so that a file without an extension can be loaded.
  if (mode == QFileDialog::AcceptSave) dialog.setDefaultSuffix(suffix);
  // A typed name need not exist: loading it then reports the missing file. Saving over an
  // existing file asks first (the dialog's default).
  dialog.setFileMode(QFileDialog::AnyFile);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

}  // namespace

void QtDialogs::showBox(QWidget* parent, tandra::BoxKind kind, const QString& text,
                        std::optional<tandra::ScreenPoint> topLeft) {
  PlacedBox box(iconFor(kind), parent ? parent->windowTitle() : QString(), text, QMessageBox::Ok,
                parent, topLeft);
  box.exec();
}

bool QtDialogs::askYesNo(QWidget* parent, const QString& text,
                         std::optional<tandra::ScreenPoint> topLeft) {
  PlacedBox box(QMessageBox::Question, parent ? parent->windowTitle() : QString(), text,
                QMessageBox::Yes | QMessageBox::No, parent, topLeft);
  return box.exec() == QMessageBox::Yes;
}

QString QtDialogs::openFileName(QWidget* parent, const QString& defaultSuffix, int filterIndex,
                                bool everyName) {
  return runFileDialog(parent, QFileDialog::AcceptOpen, openFolder, defaultSuffix, filterIndex,
                       fileDialogFilters(everyName));
}

QString QtDialogs::saveFileName(QWidget* parent, const QString& defaultSuffix, int filterIndex) {
  return runFileDialog(parent, QFileDialog::AcceptSave, saveFolder, defaultSuffix, filterIndex,
                       fileDialogFilters(false));
}
