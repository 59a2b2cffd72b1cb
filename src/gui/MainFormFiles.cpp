// The file format choice and the Load and Save buttons.
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include "common/FileError.h"
#include "files/FileFormat.h"
#include "files/Loaders.h"
#include "files/Savers.h"
#include "gui/MainForm.h"
#include "gui/PopupList.h"

using tandra::BoxKind;
using tandra::Control;

namespace {
constexpr const char* kLoadingNote = "Loading Buffer from Hex File....";
constexpr const char* kSavingNote = "Saving Buffer to Hex File....";
}  // namespace

void TMainForm::File_ButClick() {
  handle([this] {
    workbench_.states.BusyState();
    setVisible(Control::File_Type, true);
  });
}

void TMainForm::File_TypeClick() {
  handle([this] {
    const int item = File_Type->currentRow();
    if (item < 0 || item >= static_cast<int>(tandra::kFileFormats.size())) return;
    fileFormatCode_ = item;
    const tandra::FileFormatInfo& info = tandra::fileFormatInfo(item);
    File_But->setText(QString::fromUtf8(info.buttonCaption.data(),
                                        static_cast<qsizetype>(info.buttonCaption.size())));
    dialogExtension_ = QString::fromUtf8(info.defaultExtension.data(),
                                         static_cast<qsizetype>(info.defaultExtension.size()));
    dialogFilter_ = info.filterIndex;
    workbench_.states.IdleState();
  });
}

void TMainForm::showProgressNote(const char* text) {
  setCaption(Control::StaticText2, text);
  StaticText2->show();
  processMessages();
}

void TMainForm::loadImageFile(const std::string& path) {
  tandra::ImageBuffer& image = workbench_.image;
  tandra::LoadReport report;
  if (fileFormatCode_ == 0) {
    report = tandra::Load_Bin_File(image, path);
  } else {
    showProgressNote(kLoadingNote);
    try {
      report = tandra::Load_Hex_File(image, path);
    } catch (...) {
      StaticText2->hide();
      throw;
    }
    StaticText2->hide();
  }
  setCaption(Control::StaticText4, "Last File Loaded in Buffer=" + path);
  const QFileInfo loaded(QString::fromStdString(path));
  loadedFile_ = {loaded.absoluteFilePath(), loaded.lastModified(), loaded.size()};
  if (const std::string notes = report.notes(); !notes.empty()) {
    showBox(BoxKind::Information, notes, std::nullopt);
  }
}

bool TMainForm::loadAndShowChecksum(const std::string& path) {
  try {
    loadImageFile(path);
  } catch (const tandra::FileError& error) {
    // The load ends here: what was stored stays, the captions keep their contents.
    showBox(BoxKind::Error, tandra::errorBoxText(error), std::nullopt);
    return false;
  }
  workbench_.buffer.Chk_Sum_ButClick();
  return true;
}

void TMainForm::Load_ButClick() {
  handle([this] {
    const std::optional<std::string> path = openFileDialog();
    if (!path) {
      workbench_.buffer.Chk_Sum_ButClick();
      return;
    }
    dialogs_->openFolder = QFileInfo(QString::fromStdString(*path)).absolutePath();
    loadAndShowChecksum(*path);
  });
}

void TMainForm::saveImageFile(const std::string& path) {
  const tandra::ImageBuffer& image = workbench_.image;
  if (fileFormatCode_ == 0) {
    tandra::Save_Bin_File(image, path);
    return;
  }
  showProgressNote(kSavingNote);
  try {
    tandra::Save_Hex_File(image, path, tandra::fileFormatInfo(fileFormatCode_).format);
  } catch (...) {
    StaticText2->hide();
    throw;
  }
  StaticText2->hide();
}

void TMainForm::Save_ButClick() {
  handle([this] {
    const QString name = dialogs_->saveFileName(this, dialogExtension_, dialogFilter_);
    if (name.isEmpty()) return;
    dialogs_->saveFolder = QFileInfo(name).absolutePath();
    try {
      saveImageFile(name.toStdString());
    } catch (const tandra::FileError& error) {
      showBox(BoxKind::Error, tandra::errorBoxText(error), std::nullopt);
    }
  });
}
