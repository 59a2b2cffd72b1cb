#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <memory>
#include <optional>

#include "gui/ProductionChoices.h"
#include "production/ProductionRun.h"
#include "production/RunStatistics.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLayout;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QSpinBox;
class TMainForm;

namespace tandra {
class ProductionLog;
class Session;
struct SessionFacts;
}  // namespace tandra

// The production panel: a window of its own beside the main one, for a batch of chips set after
// set. Each socket takes the buffer, a file of its own or a lane of a split bus; the chips get
// serial numbers (counted on, or from a ledger); "Program set" runs Program Compare, Program
// and Verify on the sockets in use and shows the set's verdict large; Enter runs the next set
// once the chips are changed. Every chip's line goes into the log before it is shown, and a run
// ends with its statistics. It drives the main window's own session: the programmer, the type,
// the sockets and the buffer are those chosen there.
class ProductionPanel final : public QWidget, private tandra::ProductionRun::Observer {
  Q_OBJECT

 public:
  explicit ProductionPanel(TMainForm& form);
  ~ProductionPanel() override;

  bool setRunning() const { return setRunning_; }
  bool runOpen() const { return run_ != nullptr; }
  // Every key of the panel and what it does, as F1 lists them.
  static QString keysText();

  // One socket's row: its file button, the image it takes with its checksum and CRC-32, the
  // serial number its next chip gets, and the verdict of its last chip.
  struct SocketRow {
    QPushButton* file = nullptr;
    QLabel* image = nullptr;
    QLabel* checksum = nullptr;
    QLabel* crc = nullptr;
    QLabel* serial = nullptr;
    QLabel* verdict = nullptr;
  };

  // The controls, by their names.
  QLabel* sessionLine = nullptr;  // the type, the sockets and the programmer
  // The images, the serial numbers and the log, which scroll where the screen is too small for
  // them; the actions, the verdict and the statistics below stay in view.
  QScrollArea* choicesArea = nullptr;
  QPushButton* loadBuffer = nullptr;
  QLabel* bufferLine = nullptr;
  QPushButton* clearFiles = nullptr;
  QComboBox* lanes = nullptr;
  QPushButton* busFile = nullptr;
  QLabel* busLine = nullptr;
  std::array<SocketRow, 5> rows{};
  QCheckBox* numberChips = nullptr;
  QLineEdit* serialAddress = nullptr;
  QComboBox* serialFormat = nullptr;
  QSpinBox* serialWidth = nullptr;
  QLineEdit* serialStart = nullptr;
  QLineEdit* serialStep = nullptr;
  QLineEdit* ledgerPath = nullptr;
  QPushButton* chooseLedger = nullptr;
  QPushButton* makeLedger = nullptr;
  QCheckBox* reuseFailed = nullptr;
  QCheckBox* perBoard = nullptr;
  QLabel* nextNumbers = nullptr;
  QLineEdit* logPath = nullptr;
  QPushButton* chooseLog = nullptr;
  QCheckBox* csvLog = nullptr;
  QLabel* logLine = nullptr;  // the log in use, and the lines written to it
  QPushButton* programSet = nullptr;
  QPushButton* stopSet = nullptr;
  QPushButton* endRun = nullptr;
  QPushButton* closePanel = nullptr;
  QLabel* verdict = nullptr;     // the set's verdict, read across the bench
  QLabel* prompt = nullptr;      // "Change the chips, then Enter"
  QLabel* message = nullptr;     // why the panel could not do what was asked
  QLabel* counters = nullptr;    // the run's sets and chips, passed and failed, by socket
  QLabel* statistics = nullptr;  // the summary, once a run has ended

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // What a run was started on: when the main window's choices move from it, the run ends.
  struct Basis {
    int typeRow = -1;
    int socketCount = 0;
    int inUse = 0;
    std::string bufferName;
    std::uint16_t bufferChecksum = 0;
    bool operator==(const Basis&) const = default;
  };
  // A run: sets one after another on one plan, one log and one count.
  struct Run {
    std::unique_ptr<tandra::ProductionPlan> plan;
    std::unique_ptr<tandra::ProductionLog> log;
    std::optional<tandra::ProductionRun> sets;
    tandra::RunStatistics statistics;
    Basis basis;
    int linesLogged = 0;
  };

  // ProductionPanelLayout.cpp: the controls, their keys and what they are wired to.
  void createControls();
  QWidget* createImageControls();
  QWidget* createSerialControls();
  QWidget* createLogControls();
  QWidget* createRunBox();
  QLayout* createActions();
  void connectControls();
  void placeBesideMainWindow();
  // The panel as large as what it shows, as far as its screen has room, and on that screen.
  void fitToScreen();
  // After the panel's own work (a load, a dialog, a set): the keyboard is the panel's again,
  // on `control`, whatever window the work brought up.
  void takeKeyboardBack(QWidget* control);

  // ProductionPanelView.cpp: what the panel shows of the choices, the session and the run.
  void refresh();
  void showSocketRows(const tandra::SessionFacts& facts, const tandra::ProductionPlan* plan);
  void showNextNumbers(const tandra::ProductionPlan* plan);
  void showCounters();
  void showLogLine();
  // Why the panel could not do what was asked (`problem`), or a note. It stands until the main
  // window's type, sockets, buffer or programmer change, or the panel's choices do.
  void say(const QString& text, bool problem = true);
  // A message that no longer holds goes.
  void forgetStaleMessage();
  // The entries into the choices; false (and said) when one cannot be read.
  bool takeSerialEntries();
  bool readStartAndStep();
  Basis basisNow() const;
  BufferFile bufferFile() const;
  void enableChoices(bool enabled);

  // ProductionPanel.cpp: what the operator asks for.
  void chooseSocketFile(int socket);
  void chooseBusFile();
  void chooseLedgerFile();
  void chooseLogFile();
  void createLedger();
  // Something the run was made with changed: a run under way ends (its statistics are shown)
  // and the panel shows the new choices.
  void choicesChanged();

  // ProductionPanelRun.cpp: runs and sets.
  void programSetAsked();
  bool startRun();
  void runOneSet();
  void putInBlankChips();
  void showOutcome(const tandra::SetOutcome& outcome);
  void logFailedChips(const tandra::SetOutcome& outcome);
  void finishRun(const QString& why);
  // Observer
  bool mayGoOn() override;
  void operationEnded(const tandra::OperationResult& result) override;
  void chipJudged(int set, const tandra::ChipVerdict& verdict) override;

  TMainForm& form_;
  tandra::Session& session_;
  ProductionChoices choices_;
  std::unique_ptr<tandra::ProductionPlan> preview_;  // what the choices make, for the rows
  std::unique_ptr<Run> run_;
  bool setRunning_ = false;
  bool stopAsked_ = false;
  bool closePending_ = false;
  bool refreshing_ = false;
  bool placed_ = false;
  // The last set's sockets whose chips failed, to be put aside: said until the next set begins.
  QString asideLine_;
  // What the main window held when the message was said.
  struct SaidOn {
    Basis basis;
    bool connected = false;
    bool operator==(const SaidOn&) const = default;
  };
  SaidOn saidOn_;
  QString previewProblem_;       // what the choices lack, as said
  bool ledgerReadable_ = false;  // the ledger named holds its own format, width and step
  int setsRunHere_ = 0;          // sets this panel has run, for the virtual programmer's chips
  // The log the last run wrote, and how many lines it wrote there.
  struct LastLog {
    std::string path;
    int lines = 0;
  };
  std::optional<LastLog> lastLog_;
};
