// The file format choice and the Load and Save buttons.
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include "common/FileError.h"
#include "common/FileNames.h"
#include "common/InputFile.h"
#include "files/FileFormat.h"
#include "files/FormatGuess.h"
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
    workbench_.BusyState();
    setVisible(Control::File_Type, true);
  });
}

void TMainForm::File_TypeClick() {
  handle([this] {
    const tandra::FileFormatInfo* info = tandra::fileFormatOfCode(File_Type->currentRow());
    if (info == nullptr) return;
    fileFormatCode_ = static_cast<int>(info->format);
    File_But->setText(QString::fromUtf8(info->buttonCaption.data(),
                                        static_cast<qsizetype>(info->buttonCaption.size())));
    dialogExtension_ = QString::fromUtf8(info->dialogExtension.data(),
                                         static_cast<qsizetype>(info->dialogExtension.size()));
    dialogFilter_ = tandra::dialogFilterIndex(info->format);
    workbench_.IdleState();
  });
}

void TMainForm::showProgressNote(const char* text) {
  setCaption(Control::StaticText2, text);
  StaticText2->show();
  processMessages();
}

std::filesystem::path TMainForm::fileSystemPath(const std::string& name) {
  return tandra::fileSystemPath(name);
}

std::string TMainForm::loaderName(const std::filesystem::path& path) {
  return tandra::programsName(path);
}

tandra::FileFormat TMainForm::chosenFormat() const {
  return static_cast<tandra::FileFormat>(fileFormatCode_);
}

void TMainForm::loadImageFile(const std::string& path, std::optional<tandra::FileFormat> asked) {
  tandra::Session& session = workbench_.session;
  std::error_code ignored;
  const std::filesystem::path absolute = std::filesystem::absolute(fileSystemPath(path), ignored);
  // The buffer's record names the file as the file system has it, wherever it was chosen from.
  const std::string name = loaderName(absolute);
  const tandra::LoadReport report = tandra::aboutFile(path, [&] {
    tandra::InputFile file(path);
    const tandra::FormatChoice choice = tandra::chooseInputFormat(file, path, asked);
    if (!tandra::fileFormatInfo(choice.format).text) return session.load(file, name, choice);
    showProgressNote(kLoadingNote);
    try {
      const tandra::LoadReport loaded = session.load(file, name, choice);
      StaticText2->hide();
      return loaded;
    } catch (...) {
      StaticText2->hide();
      throw;
    }
  });
  setCaption(Control::StaticText4, "Last File Loaded in Buffer=" + tandra::shownName(path));
  loadedFile_ = {absolute, std::filesystem::last_write_time(absolute, ignored),
                 std::filesystem::file_size(absolute, ignored), asked};
  // A load that set no byte, or could not do all the file asked, is told; so is a fold.
  if (const std::string notes = report.boxText(); !notes.empty()) {
    showBox(BoxKind::Information, notes, std::nullopt);
  }
}

bool TMainForm::loadAndShowChecksum(const std::string& path,
                                    std::optional<tandra::FileFormat> asked) {
  try {
    loadImageFile(path, asked);
  } catch (const tandra::FileError& error) {
    // The load ends here: what was stored stays, the captions keep their contents.
    showBox(BoxKind::Error, tandra::errorBoxText(error), std::nullopt);
    return false;
  }
  workbench_.buffer.Chk_Sum_ButClick();
  return true;
}

bool TMainForm::loadBufferFor(QWidget* asking) {
  if (handlerDepth_ > 0 || !Load_But->isEnabled()) return false;
  workingFor_ = asking;
  handle([this] {
    const QString name = dialogs_->openFileName(dialogParent(), dialogExtension_, 3, true);
    if (name.isEmpty()) return;
    dialogs_->openFolder = QFileInfo(name).absolutePath();
    // Read as a dropped file is: the format chosen here is not shown in that window.
    loadAndShowChecksum(name.toStdString(), std::nullopt);
  });
  workingFor_ = nullptr;
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
    loadAndShowChecksum(*path, chosenFormat());
  });
}

void TMainForm::saveImageFile(const std::string& path) {
  const tandra::Session& session = workbench_.session;
  const tandra::FileFormat format = chosenFormat();
  if (!tandra::fileFormatInfo(format).text) {
    session.save(path, format);
    return;
  }
  showProgressNote(kSavingNote);
  try {
    session.save(path, format);
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
