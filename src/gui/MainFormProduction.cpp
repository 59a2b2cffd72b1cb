// The window's work for the production panel, and the virtual programmer's cable.
#include <QListWidget>
#include <QPushButton>
#include <QShortcut>

#include "gui/MainForm.h"
#include "gui/PopupList.h"
#include "gui/ProductionPanel.h"
#include "sim/VirtualProgrammer.h"

void TMainForm::openProductionPanel() {
  // The device list and the socket count are answered first; the panel then comes.
  productionPanelAsked_ = !startedUp_ || Device_Box->isVisible() || Num_Of_Devices->isVisible();
  if (productionPanelAsked_) return;
  if (!productionPanel_) productionPanel_ = std::make_unique<ProductionPanel>(*this);
  productionPanel_->show();
  productionPanel_->raise();
  productionPanel_->activateWindow();
}

void TMainForm::openAskedProductionPanel() {
  if (!productionPanelAsked_ || !startedUp_ || Device_Box->isVisible() ||
      Num_Of_Devices->isVisible()) {
    return;
  }
  productionPanelAsked_ = false;
  // Once the handler that answered the list has unwound.
  QMetaObject::invokeMethod(this, &TMainForm::openProductionPanel, Qt::QueuedConnection);
}

bool TMainForm::runProductionWork(const std::function<void()>& work) {
  if (handlerDepth_ > 0 || !Load_But->isEnabled()) return false;
  // The keyboard of this window comes back to where it was, as after its own operations.
  if (auto* focused = qobject_cast<QPushButton*>(focusWidget())) returnFocusTo_ = focused;
  // Work that ran no operation (a set refused before a chip was touched) leaves the buttons as
  // they were.
  const bool operationButtons = Program_Eprom->isEnabled();
  holdBusy_ = true;
  disableAllButtons();
  workingFor_ = productionPanel_.get();
  handle([&work] { work(); });
  workingFor_ = nullptr;
  holdBusy_ = false;
  enableButtons(heldEnabling_.value_or(operationButtons));
  heldEnabling_.reset();
  return true;
}

void TMainForm::setVirtualProgrammer(tandra::VirtualProgrammer* programmer) {
  virtualProgrammer_ = programmer;
  if (programmer == nullptr || findChild<QShortcut*>("pullCable") != nullptr) return;
  // To see, without a programmer at hand, how the window tells a pulled cable.
  auto* cable = new QShortcut(QKeySequence(Qt::Key_F9), this);
  cable->setObjectName("pullCable");
  cable->setContext(Qt::WindowShortcut);
  connect(cable, &QShortcut::activated, this, &TMainForm::pullOrPlugCable);
}

void TMainForm::pullOrPlugCable() {
  if (virtualProgrammer_ == nullptr) return;
  const bool pulled = !virtualProgrammer_->unplugged();
  virtualProgrammer_->setUnplugged(pulled);
  workbench_.events.insertLogLine(
      pulled ? "The virtual programmer's cable was pulled (F9 puts it back)."
             : "The virtual programmer's cable is back: click the status line (Alt+R) to find "
               "it.");
}

QWidget* TMainForm::dialogParent() {
  return workingFor_ != nullptr && workingFor_->isVisible() ? workingFor_ : this;
}
