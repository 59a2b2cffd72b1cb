#include "gui/Dialogs.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QStringList>

namespace {

const QStringList kFilters = {"Bin (*.Bin *.bin)", "Hex (*.Hex *.hex)", "All (*)"};

// A box with a place of its own goes there; any other stands in the middle of the screen that
// holds the window (Qt would centre it on the window).
void place(QMessageBox& box, const QWidget* parent, std::optional<tandra::ScreenPoint> topLeft) {
  if (topLeft) {
    box.move(topLeft->left, topLeft->top);
    return;
  }
  box.adjustSize();
  const QScreen* screen = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  QRect frame = box.frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  box.move(frame.topLeft());
}

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

QString runFileDialog(QWidget* parent, QFileDialog::AcceptMode mode, const QString& suffix,
                      int filterIndex) {
  QFileDialog dialog(parent);
  dialog.setObjectName(mode == QFileDialog::AcceptOpen ? "OpenDialog1" : "SaveDialog1");
  dialog.setAcceptMode(mode);
  dialog.setNameFilters(kFilters);
  const int index = filterIndex >= 1 && filterIndex <= kFilters.size() ? filterIndex - 1 : 0;
  dialog.selectNameFilter(kFilters[index]);
  dialog.setDefaultSuffix(suffix);
  // A typed name need not exist: loading it then reports the missing file. Saving over an
  // existing file asks first (the dialog's default).
  dialog.setFileMode(QFileDialog::AnyFile);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

}  // namespace

void QtDialogs::showBox(QWidget* parent, tandra::BoxKind kind, const QString& text,
                        std::optional<tandra::ScreenPoint> topLeft) {
  QMessageBox box(iconFor(kind), parent ? parent->windowTitle() : QString(), text, QMessageBox::Ok,
                  parent);
  place(box, parent, topLeft);
  box.exec();
}

bool QtDialogs::askYesNo(QWidget* parent, const QString& text,
                         std::optional<tandra::ScreenPoint> topLeft) {
  QMessageBox box(QMessageBox::Question, parent ? parent->windowTitle() : QString(), text,
                  QMessageBox::Yes | QMessageBox::No, parent);
  place(box, parent, topLeft);
  return box.exec() == QMessageBox::Yes;
}

QString QtDialogs::openFileName(QWidget* parent, const QString& defaultSuffix, int filterIndex) {
  return runFileDialog(parent, QFileDialog::AcceptOpen, defaultSuffix, filterIndex);
}

QString QtDialogs::saveFileName(QWidget* parent, const QString& defaultSuffix, int filterIndex) {
  return runFileDialog(parent, QFileDialog::AcceptSave, defaultSuffix, filterIndex);
}
