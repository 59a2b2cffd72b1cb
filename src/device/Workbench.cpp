#include "device/Workbench.h"

namespace tandra {

Workbench::Workbench(FtApi& api, Panel& panelRef)
    : panel(panelRef), events(panelRef), session(api, events) {
  link.onReplyLost = [this] { view.cursorRow = 0; };
}

void Workbench::FormCreate() {
  link.packetLength = Link::kCommandLength;
  link.replyDataLength = Link::kDefaultReplyDataLength;
  settings.vppSetting = 1;
  panel.clearLog();
  panel.setCaption(Control::Device, "No Device");
  panel.processMessages();
}

void Workbench::FormActivate() {
  panel.processMessages();
  search();
  states.BusyState();
  panel.setVisible(Control::Memo1, false);
  panel.setVisible(Control::Device_Box, true);
}

void Workbench::StaticText3Click() {
  search();
  states.IdleState();
}

void Workbench::search() {
  discovery.run();
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
  session.leaveOut(settings.skippedSockets ^ (1 << (socket - 1)));
  const Control label = socketLabel(socket);
  if (engine.socketSkipped(socket)) {
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
  if (!operations.deviceChosen()) return;
  if (!selection.applyPulseWidth()) return;
  session.run(Operation::Program);
}

bool Workbench::readIntoBuffer() {
  const bool typeChosen = settings.deviceFamily != 0;  // without one Move stops at its box
  const OperationResult& moved = session.run(Operation::Move);
  // A stopped run reports the start of the block it stopped in; every block before it was read.
  return typeChosen && (!moved.stopped || moved.reached > image.deviceStartAddress);
}

}  // namespace tandra
