#pragma once

#include "controller/BufferActions.h"
#include "controller/DeviceSelection.h"
#include "controller/Panel.h"
#include "controller/PanelHost.h"
#include "device/Session.h"
#include "image/HexView.h"

namespace tandra {

class FtApi;

// Everything the window owns apart from its widgets: a session on the programmer, its events
// shown on the window's controls, and the window's handlers over both. The window forwards
// every event to the handler of the same name; tests drive them with a test panel and the
// virtual programmer.
class Workbench {
 public:
  Workbench(FtApi& api, Panel& panel);
  Workbench(const Workbench&) = delete;
  Workbench& operator=(const Workbench&) = delete;

  Panel& panel;
  PanelHost events;
  Session session;
  HexView view{session.image()};
  DeviceSelection selection{panel, session};
  BufferActions buffer{panel, session};

  // The trace the start-up search's facts and every status-log line are written into as well;
  // nullptr for none.
  void setTrace(Trace* trace) {
    session.setTrace(trace);
    events.setTrace(trace);
  }

  // Start-up, the status line, the Quit button, the watchdog and closing.
  void FormCreate();
  void FormActivate();
  void StaticText3Click();
  void Quit_Func_ButClick() { session.quit(); }
  void Timer1Timer() { session.watchdogFired(); }
  void FormCloseQuery() { session.close(); }

  // The busy and idle states that frame the window's own work (file dialogs, loads, saves).
  void BusyState() { session.enterBusyState(); }
  void IdleState() { session.enterIdleState(); }

  // A click on a socket's label: the socket is left out of the operations, or put back.
  void Device_nClick(int socket);

  // The five device operations' buttons.
  void Program_EpromClick();
  void Blank_ChkClick() { session.run(Operation::BlankCheck); }
  void Verify_EpromClick() { session.run(Operation::Verify); }
  void Move_EpromClick() { readIntoBuffer(); }
  void Prg_CompareClick() { session.run(Operation::ProgramCompare); }

  // A key typed in the hex view; an edit of the buffer is noted as such.
  HexView::Effect Edit_1KeyPress(char character);

  // Move Device #1; true when it read socket 1 into the buffer, all or part of it, so that the
  // buffer no longer holds the file last loaded. No type chosen, or a stop before the first
  // block, leaves the buffer as it was.
  bool readIntoBuffer();

 private:
  // The search at start-up and on the status line, and after an update the search again.
  void search();
};

}  // namespace tandra
