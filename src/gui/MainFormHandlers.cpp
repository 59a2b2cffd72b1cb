// The window's event handlers: each runs the workbench's handler of the same name.
#include <QListWidget>
#include <QPushButton>

#include "gui/KeyEntry.h"
#include "gui/MainForm.h"
#include "gui/PopupList.h"

void TMainForm::FormActivate() {
  handle([this] { workbench_.FormActivate(); });
  startedUp_ = true;
  openAskedProductionPanel();
}

void TMainForm::StaticText3Click() {
  handle([this] { workbench_.StaticText3Click(); });
}

// Quit and the watchdog only raise flags; they must work while a handler runs.
void TMainForm::Quit_Func_ButClick() {
  workbench_.Quit_Func_ButClick();
}
void TMainForm::Timer1Timer() {
  workbench_.Timer1Timer();
}

void TMainForm::Device_nClick(int socket) {
  handle([this, socket] { workbench_.Device_nClick(socket); });
}

void TMainForm::Program_EpromClick() {
  handle([this] {
    if (reloadIfChanged()) workbench_.Program_EpromClick();
  });
}

void TMainForm::Blank_ChkClick() {
  handle([this] { workbench_.Blank_ChkClick(); });
}

void TMainForm::Verify_EpromClick() {
  handle([this] { workbench_.Verify_EpromClick(); });
}

void TMainForm::Move_EpromClick() {
  handle([this] {
    if (workbench_.readIntoBuffer()) loadedFile_ = {};
  });
}

void TMainForm::Prg_CompareClick() {
  handle([this] { workbench_.Prg_CompareClick(); });
}

void TMainForm::DeviceClick() {
  handle([this] { workbench_.selection.DeviceClick(); });
}

void TMainForm::Device_BoxClick() {
  handle([this] {
    workbench_.selection.Device_BoxClick(clickedRow(Device_Box));
    showVppAboveRating();
  });
}

void TMainForm::Device_BoxEscape() {
  handle([this] { workbench_.selection.Device_BoxEscape(); });
}

void TMainForm::Num_Of_DevicesEscape() {
  handle([this] {
    workbench_.selection.Num_Of_DevicesEscape();
    restoreKeptWidthAndVoltage();
  });
}

void TMainForm::FillBoxEscape() {
  handle([this] { workbench_.buffer.FillBoxEscape(); });
}

void TMainForm::File_TypeEscape() {
  handle([this] { workbench_.IdleState(); });  // the format stays as it was
}

void TMainForm::Num_Of_DevicesClick() {
  handle([this] {
    workbench_.selection.Num_Of_DevicesClick(clickedRow(Num_Of_Devices));
    restoreKeptWidthAndVoltage();
  });
}

void TMainForm::Vpp_ButClick() {
  handle([this] {
    workbench_.selection.Vpp_ButClick();
    showVppAboveRating();
  });
}

void TMainForm::PulseClick() {
  handle([this] { workbench_.selection.PulseClick(); });
}

void TMainForm::P_EditKeyPress(char character) {
  handle([this, character] { workbench_.selection.P_EditKeyPress(character); });
}

void TMainForm::Chk_Sum_ButClick() {
  handle([this] { workbench_.buffer.Chk_Sum_ButClick(); });
}

void TMainForm::FillClick() {
  handle([this] { workbench_.buffer.FillClick(); });
}

void TMainForm::FillBoxClick() {
  handle([this] {
    if (workbench_.buffer.FillBoxClick(clickedRow(FillBox))) loadedFile_ = {};
  });
}

void TMainForm::FillEditKeyPress(char character) {
  handle([this, character] {
    if (workbench_.buffer.FillEditKeyPress(character)) loadedFile_ = {};
  });
}
