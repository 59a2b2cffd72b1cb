#include "controller/PanelHost.h"

#include <array>

#include "common/HexText.h"
#include "link/Trace.h"

namespace tandra {

std::string_view controlName(Control control) {
  static constexpr std::array<std::string_view, 25> kNames{
      "Memo1",    "StaticText2", "StaticText3", "StaticText4",    "Quit_Func_But",
      "Device_1", "Device_2",    "Device_3",    "Device_4",       "Device_5",
      "Device",   "Vpp_But",     "Pulse",       "P_Edit",         "Chk_Sum_But",
      "End_Add",  "File_But",    "Device_Box",  "Num_Of_Devices", "File_Type",
      "FillBox",  "FillEdit",    "Edit_1",      "Chg_Edit_Add",   "Progress"};
  return kNames[static_cast<std::size_t>(control)];
}

std::string quitCaption(std::uint32_t address) {
  return "&Quit = " + hexText(address, 4);
}

std::string socketCaption(int socket, std::string_view words) {
  // The window's labels keep the spacing their texts have always had: a passed Blank Check or
  // Verify is centred in the label, a passed Program has a space after it.
  struct Spaced {
    std::string_view words;
    std::string_view caption;
  };
  static constexpr std::array<Spaced, 3> kSpaced{{{"Is Blank", " Is Blank      "},
                                                  {"Verified OK", " Verified OK   "},
                                                  {"Programmed OK", "Programmed OK "}}};
  std::string caption = std::to_string(socket) + "-";
  for (const Spaced& spaced : kSpaced) {
    if (spaced.words == words) return caption.append(spaced.caption);
  }
  return caption.append(words);
}

void PanelHost::insertLogLine(const std::string& text) {
  panel_.insertLogLine(text);
  if (trace_ != nullptr) trace_->log(text);
}

void PanelHost::appendLogLine(const std::string& text) {
  panel_.appendLogLine(text);
  if (trace_ != nullptr) trace_->log(text);
}

void PanelHost::showLog(bool shown) {
  if (shown || !logHeld_) panel_.setVisible(Control::Memo1, shown);
}

std::optional<std::string> PanelHost::chooseUpdateFile() {
  logHeld_ = true;
  panel_.setVisible(Control::Memo1, true);
  std::optional<std::string> path = panel_.openFileDialog();
  if (trace_ != nullptr) trace_->updateFileChosen(path);
  return path;
}

void PanelHost::releaseLog() {
  if (!logHeld_) return;
  logHeld_ = false;
  panel_.setVisible(Control::Memo1, false);
}

void PanelHost::showStatus(const std::string& text) {
  panel_.setCaption(Control::StaticText3, text);
  if (trace_ != nullptr) trace_->shown("status", text);
}

void PanelHost::showStatusAdvice(const std::string& text) {
  panel_.setHint(Control::StaticText3, text);
}

void PanelHost::showBusy() {
  panel_.disableAllButtons();
  showLog(false);
}

void PanelHost::showIdle(bool programmerReached) {
  panel_.enableButtons(programmerReached);
  for (Control popup : {Control::P_Edit, Control::FillBox, Control::FillEdit, Control::File_Type,
                        Control::StaticText2, Control::Num_Of_Devices, Control::Progress}) {
    panel_.setVisible(popup, false);
  }
}

void PanelHost::showOperation(const std::string& note) {
  if (trace_ != nullptr) trace_->shown("operation", note);
  panel_.enableQuitButton();
  panel_.setCaption(Control::StaticText2, note);
  panel_.setVisible(Control::StaticText2, true);
}

void PanelHost::showAddress(std::uint32_t address) {
  panel_.setCaption(Control::Quit_Func_But, quitCaption(address));
}

void PanelHost::showProgress(const Progress& progress) {
  panel_.setVisible(Control::Progress, true);
  panel_.showProgress(progress);
}

void PanelHost::showProgressEnd() {
  panel_.setVisible(Control::Progress, false);
}

void PanelHost::showSocket(int socket, const std::string& words, SocketLook look) {
  const std::string caption = socketCaption(socket, words);
  panel_.setCaption(socketLabel(socket), caption);
  panel_.showSocketLook(socket, look);
  // The trace holds the label as it read, after its "n-".
  if (trace_ != nullptr)
    trace_->socketShown(socket, socketLookWord(look), caption.substr(caption.find('-') + 1));
}

void PanelHost::showMessage(BoxKind kind, const std::string& text,
                            std::optional<ScreenPoint> topLeft) {
  if (trace_ != nullptr) trace_->boxShown(kind, text);
  panel_.showBox(kind, text, topLeft);
}

bool PanelHost::askQuestion(const std::string& text, std::optional<ScreenPoint> topLeft) {
  const bool yes = panel_.askYesNo(text, topLeft);
  if (trace_ != nullptr) trace_->questionAnswered(text, yes);
  return yes;
}

void PanelHost::showVpp(std::string_view volts) {
  panel_.setCaption(Control::Vpp_But, "Vpp = " + std::string(volts));
}

void PanelHost::showChecksum(std::uint16_t checksum) {
  panel_.setCaption(Control::Chk_Sum_But, "CheckSum=" + hexText(checksum, 4));
}

}  // namespace tandra
