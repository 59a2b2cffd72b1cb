#include "controller/Workbench.h"

namespace tandra {

Workbench::Workbench(FtApi& api, Panel& panelRef)
    : panel(panelRef), events(panelRef), session(api, events) {
  session.whenReplyLost([this] { view.cursorRow = 0; });
}

void Workbench::FormCreate() {
  // A new session starts with the command packet's length, the default reply length and the
  // first Vpp setting: the window starts from those.
  panel.clearLog();
  panel.setCaption(Control::Device, "No Device");
  panel.processMessages();
}

void Workbench::FormActivate() {
  panel.processMessages();
  search();
  session.enterBusyState();
  panel.setVisible(Control::Memo1, false);
  panel.setVisible(Control::Device_Box, true);
}

void Workbench::StaticText3Click() {
  search();
  session.enterIdleState();
}

void Workbench::search() {
  session.connect();
  // A programmer whose firmware was just updated restarts: it is found again before anything is
  // sent to it, as tandra-cli finds it.
  if (session.restartPending()) session.findAfterRestart();
}

HexView::Effect Workbench::Edit_1KeyPress(char character) {
  const HexView::Effect effect = view.KeyPress(character);
  if (effect.byteLine >= 0) session.noteEdited();
  return effect;
}

void Workbench::Device_nClick(int socket) {
  if (socket < 1 || socket > kSockets) return;
  const int bit = 1 << (socket - 1);
  session.leaveOut(session.settings().skippedSockets ^ bit);
  const Control label = socketLabel(socket);
  if ((session.settings().skippedSockets & bit) != 0) {
    events.showSocket(socket, "Skipped", SocketLook::Skipped);
    panel.setHint(label, "Left out of the operations: click to put socket " +
                             std::to_string(socket) + " back");
  } else {
    panel.setCaption(label, "");
    panel.showSocketLook(socket, SocketLook::Plain);
    panel.setHint(label,
                  "Click to leave socket " + std::to_string(socket) + " out of the operations");
  }
}

void Workbench::Program_EpromClick() {
  // The width sent is the one the caption shows: an entry left without Enter is applied as
  // Enter would, and one the programmer cannot take stops Program before anything is sent.
  // Without a type Program refuses with its own box before any width is looked at.
  const bool typeChosen = session.settings().deviceFamily != 0;
  if (typeChosen && !selection.applyPulseWidth()) return;
  session.run(Operation::Program);
}

bool Workbench::readIntoBuffer() {
  // Without a type Move stops at its box.
  const bool typeChosen = session.settings().deviceFamily != 0;
  const OperationResult& moved = session.run(Operation::Move);
  // A stopped run reports the start of the block it stopped in; every block before it was read.
  return typeChosen && (!moved.stopped || moved.reached > session.image().deviceStartAddress);
}

}  // namespace tandra
