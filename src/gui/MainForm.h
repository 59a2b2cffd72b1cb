#pragma once

#include <QDateTime>
#include <QHash>
#include <QMetaObject>
#include <QPushButton>
#include <QStringList>
#include <QWidget>
#include <array>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <new>
#include <optional>

#include "common/FileError.h"
#include "controller/Panel.h"
#include "controller/Workbench.h"
#include "device/Verdict.h"
#include "files/FileFormat.h"
#include "gui/Dialogs.h"
#include "gui/WindowSettings.h"

class HexViewWidget;
class KeyEntry;
class PopupList;
class ProductionPanel;
class SocketLabel;
class QFrame;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QSettings;
class QShortcut;
class QTimer;

namespace tandra {
class VirtualProgrammer;
}

// The one window. It owns the widgets and a Workbench, is the Panel the workbench shows things
// on, and forwards every event to the handler of the same name.
class TMainForm final : public QWidget, public tandra::Panel {
  Q_OBJECT

 public:
  static constexpr const char* kUnexpectedErrorText = "An unexpected error stopped this task.";

  // What the program sets up on its application object before the window is made.
  static void setUpApplication();

  explicit TMainForm(tandra::FtApi& api, QWidget* parent = nullptr);
  ~TMainForm() override;

  tandra::Workbench& workbench() { return workbench_; }
  void setDialogs(std::unique_ptr<Dialogs> dialogs) { dialogs_ = std::move(dialogs); }
  // Where the window keeps its settings between runs; before it is shown. Without one it uses
  // the user's own settings of this program.
  void setSettings(std::unique_ptr<QSettings> settings);
  // The eighteen buttons that the busy and idle states switch.
  const std::array<QPushButton*, 18>& buttons() const { return buttons_; }
  int fileFormatCode() const { return fileFormatCode_; }
  QStringList logLines() const { return logLines_; }

  // The production panel: a window of its own that runs sets of chips on this window's session
  // (its programmer, type, sockets and buffer). Alt+T opens it, as --production does; while the
  // device list or the socket count is up it opens once they are answered, so that it never
  // stands over a list that must be answered first.
  void openProductionPanel();
  ProductionPanel* productionPanel() { return productionPanel_.get(); }
  // The virtual programmer this window runs on, if it does: each new set of the panel finds
  // blank chips in its sockets, as an operator puts them in.
  // Its cable can be pulled and put back from the keyboard (F9).
  void setVirtualProgrammer(tandra::VirtualProgrammer* programmer);
  tandra::VirtualProgrammer* virtualProgrammer() const { return virtualProgrammer_; }
  // Runs the panel's work as one of this window's handlers, the window busy all through it (its
  // buttons come back only at the end, not between the operations of a set). False, and
  // nothing done, while a handler runs or a list, entry or view of the window is open.
  bool runProductionWork(const std::function<void()>& work);
  // What the buffer holds, by the files loaded into it ("B.bin over A.bin"; "" when no file set
  // a byte of it), and what those loads met.
  std::string bufferFileName() const { return workbench_.session.bufferName(); }
  tandra::ImageStanding bufferStanding() const { return workbench_.session.bufferStanding(); }
  // Load Buffer for another window of this one (the production panel): its dialog and boxes
  // over that window, the file read in the format its content (then its name) says, as a
  // dropped file is, and the checksum. False, and nothing done, while this window could not
  // load (a handler runs, or one of its lists is open).
  bool loadBufferFor(QWidget* asking);
  Dialogs& dialogs() { return *dialogs_; }
  // Every key of the window and what it does, as F1 lists them; F9 only with a virtual
  // programmer.
  static QString keysText(bool virtualProgrammer = false);

 signals:
  // A handler has ended: what it chose, loaded or found can be shown elsewhere.
  void handlerEnded();

 public:
  // Panel
  void processMessages() override;
  void waitForEvents(int milliseconds) override;
  void startWatchdog() override;
  void stopWatchdog() override;
  void sleepMs(int milliseconds) override;
  void insertLogLine(const std::string& text) override;
  void appendLogLine(const std::string& text) override;
  void clearLog() override;
  void setCaption(tandra::Control control, const std::string& text) override;
  void setHint(tandra::Control control, const std::string& text) override;
  std::int64_t monotonicMs() override;
  void showSocketLook(int socket, tandra::SocketLook look) override;
  void showProgress(const tandra::Progress& progress) override;
  void setVisible(tandra::Control control, bool visible) override;
  void setFocus(tandra::Control control) override;
  void disableAllButtons() override;
  void enableButtons(bool operationButtons) override;
  void enableQuitButton() override;
  void showBox(tandra::BoxKind kind, const std::string& text,
               std::optional<tandra::ScreenPoint> topLeft) override;
  bool askYesNo(const std::string& text, std::optional<tandra::ScreenPoint> topLeft) override;
  std::optional<std::string> openFileDialog() override;
  using QWidget::setVisible;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  // A file dropped on the window is loaded as the Load button would load it.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private slots:
  void FormActivate();
  void StaticText3Click();
  void Quit_Func_ButClick();
  void Timer1Timer();
  // A click on a socket label leaves that socket out of the operations, or puts it back.
  void Device_nClick(int socket);
  void Program_EpromClick();
  void Blank_ChkClick();
  void Verify_EpromClick();
  void Move_EpromClick();
  void Prg_CompareClick();
  void DeviceClick();
  void Device_BoxClick();
  void Num_Of_DevicesClick();
  // Escape in a pop-up list: it closes without a choice.
  void Device_BoxEscape();
  void Num_Of_DevicesEscape();
  void FillBoxEscape();
  void File_TypeEscape();
  void Vpp_ButClick();
  void PulseClick();
  void P_EditKeyPress(char character);
  void Chk_Sum_ButClick();
  void FillClick();
  void FillBoxClick();
  void FillEditKeyPress(char character);
  void File_ButClick();
  void File_TypeClick();
  void Load_ButClick();
  void Save_ButClick();
  void EditClick();
  void Edit_1KeyDown(int qtKey);
  void Edit_1KeyPress(char character);
  void Edit_1KeyUp();
  void Edit_1MouseDown(int position);
  void Edit_1Exit();
  void Chg_Edit_AddKeyPress(char character);

 private:
  void createControls();
  // The window stands in the middle of the desktop of the screen that holds it.
  void centreOnScreen();
  void connectHandlers();
  // The Alt keys of the controls whose captions carry none, and F1.
  void createKeys();
  QString hintWithKey(QWidget* control, const QString& hint) const;
  void keyCheckSumWhileCaptionHasNone();
  QWidget* control(tandra::Control control) const;
  // The button a pop-up list or entry belongs to; nullptr for other controls.
  QPushButton* openerOf(const QWidget* popup) const;
  void showLog();
  // The status log stands in its place, or, while an update's log is held in view beside the
  // device list, in the room left of the list.
  void placeLog();
  // The production panel asked for while the device list was up, once it is answered.
  void openAskedProductionPanel();
  // The hex view's address entry, opened from its header or its key.
  void openAddressEntry();
  // The virtual programmer's cable pulled, or put back.
  void pullOrPlugCable();
  // The parent of the boxes and dialogs: this window, or the one whose work runs.
  QWidget* dialogParent();
  void unexpected(const char* cause);
  static int clickedRow(const QListWidget* list);
  // Runs a handler unless another one is still running (its message pumping would otherwise
  // let a second command share the transfer buffers), and carries out a close that was asked
  // for while it ran.
  template <typename Handler>
  void handle(Handler&& handler);

  // After a handler: an open view shows what the buffer now holds, and the settings take what
  // the operator chose.
  void afterHandler();
  // Settings: read once at the first show, kept as the operator chooses, written at once.
  void readSettings();
  void keepChoices();
  // The lists open on the last choices; a type chosen again gets its last width and voltage.
  void offerKeptChoices();
  void restoreKeptWidthAndVoltage();
  // The status line says so while the Vpp chosen is above the type's own voltage.
  void showVppAboveRating();

  // Image files: load one (in the format asked, or for a dropped file the one its content and
  // name say), save the buffer (the format is the row chosen in File_Type).
  void loadImageFile(const std::string& path, std::optional<tandra::FileFormat> asked);
  // Loads a file as Load does after its dialog: the error box on failure, then the checksum.
  // False when the file could not be loaded.
  bool loadAndShowChecksum(const std::string& path, std::optional<tandra::FileFormat> asked);
  // The format chosen in File_Type, as a load asks for it.
  tandra::FileFormat chosenFormat() const;
  // A name as the loaders take it (bytes; UTF-8 on Windows, as Qt gives names) and as the file
  // system does, each from the other.
  static std::filesystem::path fileSystemPath(const std::string& name);
  static std::string loaderName(const std::filesystem::path& path);
  // Before Program: when the loaded file changed on disk since, asks whether to load it again.
  // False when Program must not go on (the new load failed).
  bool reloadIfChanged();
  void saveImageFile(const std::string& path);
  void showProgressNote(const char* text);
  // The hex view: its whole text, one of its lines, the caret, and what an event asks for.
  void renderView();
  void replaceViewLine(int line, const std::string& text);
  void placeViewCaret();
  void applyViewEffect(const tandra::HexView::Effect& effect);
  void refreshView();

  std::unique_ptr<Dialogs> dialogs_;
  std::unique_ptr<QSettings> settings_;
  WindowSettings kept_;
  // The file the buffer was loaded from, as it was then; empty once the buffer was replaced.
  // Its name is kept as the file system has it: a dropped file's name need not be UTF-8.
  struct LoadedFile {
    std::filesystem::path path;
    std::filesystem::file_time_type modified;
    std::uintmax_t size = 0;
    std::optional<tandra::FileFormat> asked;  // loaded again the same way
  } loadedFile_;
  int fileFormatCode_ = 0;
  QString dialogExtension_ = "Bin";
  int dialogFilter_ = 1;
  tandra::Workbench workbench_;
  int handlerDepth_ = 0;
  bool activated_ = false;
  bool startedUp_ = false;  // the start-up search has run
  bool closePending_ = false;
  QStringList logLines_;
  QHash<const QWidget*, QShortcut*> keyOf_;
  // The warning of a Vpp above the type's own, while the status line shows it, and the line it
  // stands in for.
  QString vppWarning_;
  QString statusBeforeVppWarning_;
  // The button whose click runs the handler under way; nullptr for other events.
  QPushButton* startedBy_ = nullptr;
  // Where the keyboard goes back to once the buttons are enabled again: the button that started
  // the work, or the opener of a pop-up that closed while its opener was still disabled.
  QPushButton* returnFocusTo_ = nullptr;
  // While the production panel's work runs, the buttons stay disabled: the last enabling asked
  // for is carried out when it ends.
  bool holdBusy_ = false;
  std::optional<bool> heldEnabling_;
  tandra::VirtualProgrammer* virtualProgrammer_ = nullptr;
  // The window whose work runs on this one's session (the production panel), if any.
  QWidget* workingFor_ = nullptr;
  // The panel was asked for while the device list was up: it opens once that is answered.
  bool productionPanelAsked_ = false;
  // Made last, so that it goes before the workbench its sets run on.
  std::unique_ptr<ProductionPanel> productionPanel_;

 public:
  // The controls, by their names.
  QFrame* Panel1 = nullptr;
  QFrame* Panel2 = nullptr;
  QFrame* Panel3 = nullptr;
  QFrame* Panel4 = nullptr;
  QFrame* Panel5 = nullptr;
  QPushButton* Program_Eprom = nullptr;
  QPushButton* Quit_Func_But = nullptr;
  QPushButton* Blank_Chk = nullptr;
  QPushButton* Verify_Eprom = nullptr;
  QPushButton* Move_Eprom = nullptr;
  QPushButton* Prg_Compare = nullptr;
  QPushButton* Chk_Sum_But = nullptr;
  QPushButton* Load_But = nullptr;
  QPushButton* Save_But = nullptr;
  QPushButton* File_But = nullptr;
  QPushButton* Device = nullptr;
  QPushButton* Edit = nullptr;
  QPushButton* Fill = nullptr;
  QPushButton* Vpp_But = nullptr;
  QPushButton* Pulse = nullptr;
  QPushButton* Start_Buf_Add = nullptr;
  QPushButton* Start_Add = nullptr;
  QPushButton* End_Add = nullptr;
  QLabel* StaticText2 = nullptr;
  QLabel* StaticText3 = nullptr;
  QLabel* StaticText4 = nullptr;
  std::array<SocketLabel*, 5> Device_n{};
  HexViewWidget* Edit_1 = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  KeyEntry* Chg_Edit_Add = nullptr;
  KeyEntry* FillEdit = nullptr;
  KeyEntry* P_Edit = nullptr;
  PopupList* Num_Of_Devices = nullptr;
  PopupList* Device_Box = nullptr;
  PopupList* File_Type = nullptr;
  PopupList* FillBox = nullptr;
  QTimer* Timer1 = nullptr;
  QTimer* waitTimer_ = nullptr;  // wakes the window from a wait between looks at the programmer
  QProgressBar* Progress = nullptr;

 private:
  std::array<QPushButton*, 18> buttons_{};
};

template <typename Handler>
void TMainForm::handle(Handler&& handler) {
  if (handlerDepth_ > 0) return;
  ++handlerDepth_;
  startedBy_ = qobject_cast<QPushButton*>(sender());
  workbench_.events.releaseLog();  // the operator acts: a log held in view goes
  try {
    handler();
  } catch (const tandra::FileError& error) {
    showBox(tandra::BoxKind::Error, tandra::errorBoxText(error), std::nullopt);
  } catch (const std::bad_alloc&) {
    showBox(tandra::BoxKind::Error, "Not enough memory for this task.", std::nullopt);
  } catch (const std::exception& error) {
    // Nothing a handler meets may take the program down; the operator hears of it in the
    // program's own words, never in a library's, and its cause is kept where it can be sent
    // in: the status log, standard error and the trace.
    unexpected(error.what());
  }
  afterHandler();
  startedBy_ = nullptr;
  --handlerDepth_;
  emit handlerEnded();
  openAskedProductionPanel();
  if (closePending_) {
    closePending_ = false;
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
  }
}
