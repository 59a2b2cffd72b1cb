#include "gui/ProductionPanel.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSpinBox>

#include "gui/MainForm.h"
#include "gui/WindowPlacement.h"
#include "production/ProductionLog.h"
#include "production/SerialLedger.h"
#include "production/SessionFacts.h"

namespace {

struct PanelKey {
  const char* keys;
  const char* does;
};

// What each key of the panel does, in the order its controls stand.
constexpr PanelKey kPanelKeys[] = {
    {"Alt+L", "Load buffer: the main window's buffer, the image of every socket without a file"},
    {"Alt+1 ... Alt+5", "a file of its own for socket 1 to 5"},
    {"Alt+C", "clear the sockets' files: every socket takes the buffer"},
    {"Alt+I, Alt+B", "split the sockets into 2 or 4 lanes of a bus, and the bus's file"},
    {"Alt+N", "number the chips"},
    {"Alt+A, Alt+F, Alt+W", "the serial number's address, format and width"},
    {"Alt+S, Alt+T", "the first serial number and the step"},
    {"Alt+G, Alt+H, Alt+M", "the serial number ledger: its file, choose one, make one"},
    {"Alt+R, Alt+D", "reuse failed chips' numbers; one number per board of a split"},
    {"Alt+O, Alt+K, Alt+V", "the log file, choose one, CSV in place of JSON lines"},
    {"Alt+P, Enter", "Program set: Program Compare, Program, Verify; Enter runs the next set"},
    {"Alt+Q", "stop the set under way"},
    {"Alt+E", "end the run and show its statistics"},
    {"Escape, Alt+X", "close the panel (not while a set runs)"},
    {"Tab, Shift+Tab, Space", "the next or the previous control; the button in the focus frame"},
    {"F1", "this list"},
};

// Enter in an entry, a number box or a list takes what was typed or chosen there; it runs no
// set.
bool takesEnter(const QWidget* focused) {
  for (const QWidget* w = focused; w != nullptr; w = w->parentWidget()) {
    if (qobject_cast<const QLineEdit*>(w) != nullptr ||
        qobject_cast<const QAbstractSpinBox*>(w) != nullptr ||
        qobject_cast<const QComboBox*>(w) != nullptr) {
      return true;
    }
    if (w->isWindow()) break;
  }
  return false;
}

}  // namespace

ProductionPanel::ProductionPanel(TMainForm& form)
    : QWidget(&form, Qt::Window), form_(form), session_(form.workbench().session) {
  setObjectName("ProductionPanel");
  createControls();
  connectControls();
  auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
  help->setContext(Qt::WindowShortcut);
  connect(help, &QShortcut::activated, this, [this] {
    form_.dialogs().showBox(this, tandra::BoxKind::Information, keysText(), std::nullopt);
  });
  // What the main window chooses (its type, sockets, buffer, programmer) is the panel's.
  connect(&form, &TMainForm::handlerEnded, this, [this] {
    if (isVisible() && !setRunning_) refresh();
  });
  refresh();
}

ProductionPanel::~ProductionPanel() = default;

QString ProductionPanel::keysText() {
  QString text = "<p><b>The keys of the production panel</b></p><table cellspacing=\"4\">";
  for (const PanelKey& key : kPanelKeys) {
    text += QString("<tr><td>%1</td><td>%2</td></tr>").arg(key.keys, key.does);
  }
  return text + "</table>";
}

void ProductionPanel::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
  if ((key == Qt::Key_Return || key == Qt::Key_Enter) && plain &&
      !takesEnter(QApplication::focusWidget())) {
    programSetAsked();
    return;
  }
  if (key == Qt::Key_Escape && plain) {
    if (!setRunning_) close();
    return;
  }
  QWidget::keyPressEvent(event);
}

void ProductionPanel::closeEvent(QCloseEvent* event) {
  if (setRunning_) {
    // The set stops where Quit would stop it; the panel closes once the set has unwound and
    // every chip it touched is written down.
    stopAsked_ = true;
    session_.stop();
    closePending_ = true;
    event->ignore();
    return;
  }
  finishRun("The panel was closed.");
  event->accept();
}

void ProductionPanel::placeBesideMainWindow() {
  // Both windows in view on the bench: side by side where the screen has room for both.
  const QScreen* shownOn = form_.screen();
  if (shownOn == nullptr) return;
  const QRect room = shownOn->availableGeometry();
  const QRect main = form_.frameGeometry();
  // The frame is the window manager's, and not known before the panel is first shown: the main
  // window's stands in for it.
  const QSize frame = main.size() - form_.size();
  resize(sizeHint().expandedTo(minimumSizeHint()).boundedTo(room.size() - frame));
  const PairPlacement placed = placeSideBySide(room, main, size() + frame);
  if (placed.main != main.topLeft()) form_.move(placed.main);
  move(placed.panel);
}

void ProductionPanel::fitToScreen() {
  if (!isVisible()) return;
  const QScreen* shownOn = screen();
  if (shownOn == nullptr) return;
  layout()->activate();
  const QRect room = shownOn->availableGeometry();
  const QSize frame = frameGeometry().size() - size();
  // As large as what it shows asks, never past the screen: the choices give way first.
  const QSize wanted = sizeHint().expandedTo(size()).boundedTo(room.size() - frame);
  if (wanted != size()) resize(wanted.expandedTo(minimumSizeHint()));
  QRect at = frameGeometry();
  at.moveBottom(std::min(at.bottom(), room.bottom()));
  at.moveTop(std::max(at.top(), room.top()));
  if (at.topLeft() != frameGeometry().topLeft()) move(at.topLeft());
}

void ProductionPanel::takeKeyboardBack(QWidget* control) {
  // A window the work brought up (a box over the main window, the main window itself) would
  // otherwise keep the keyboard, and its Alt keys do other things than the panel's.
  raise();
  activateWindow();
  if (control != nullptr && control->isEnabled()) control->setFocus();
}

void ProductionPanel::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  refresh();
  if (!placed_) {
    placed_ = true;
    placeBesideMainWindow();
  }
  if (programSet->isEnabled()) programSet->setFocus();
}

void ProductionPanel::choicesChanged() {
  if (refreshing_ || setRunning_) return;
  say({});
  if (run_) finishRun("The choices changed, so the run ended.");
  refresh();
}

void ProductionPanel::chooseSocketFile(int socket) {
  if (setRunning_) return;
  const tandra::SessionFacts facts = tandra::factsOf(session_);
  if (facts.type == nullptr) {
    say("Choose the device type in the main window first: a file is read for its size.");
    return;
  }
  const QString name = form_.dialogs().openFileName(this, "Bin", 3, true);
  if (name.isEmpty()) return;
  choices_.chooseSocketFile(socket, name.toStdString(), facts.type->endAddress());
  choicesChanged();
}

void ProductionPanel::chooseBusFile() {
  if (setRunning_) return;
  const tandra::SessionFacts facts = tandra::factsOf(session_);
  if (facts.type == nullptr || choices_.lanes() == 0) {
    say("Choose the device type in the main window, and 2 or 4 lanes (Alt+I), first.");
    return;
  }
  const QString name = form_.dialogs().openFileName(this, "Bin", 3, true);
  if (name.isEmpty()) return;
  choices_.chooseSplitFile(name.toStdString(), facts.type->endAddress());
  choicesChanged();
}

void ProductionPanel::chooseLedgerFile() {
  if (setRunning_) return;
  const QString name = form_.dialogs().openFileName(this, "", 3, false);
  if (name.isEmpty()) return;
  ledgerPath->setText(name);
  choicesChanged();
}

void ProductionPanel::chooseLogFile() {
  if (setRunning_) return;
  const QString name = form_.dialogs().openFileName(this, "", 3, false);
  if (name.isEmpty()) return;
  logPath->setText(name);
  choicesChanged();
}

void ProductionPanel::createLedger() {
  if (setRunning_) return;
  const std::string path = ledgerPath->text().trimmed().toStdString();
  if (path.empty()) {
    say("Name the ledger's file first (Alt+G).");
    return;
  }
  if (!readStartAndStep()) return;
  tandra::LedgerState state;
  state.format = static_cast<tandra::SerialFormat>(serialFormat->currentIndex());
  state.width = serialWidth->value();
  state.step = choices_.serial.step;
  state.next = choices_.serial.start;
  try {
    tandra::SerialLedger::create(path, state);
  } catch (const tandra::LedgerError& error) {
    say(QString::fromStdString(error.what()));
    return;
  }
  choicesChanged();
  say(QString::fromStdString("The ledger " + path + " starts at " + std::to_string(state.next) +
                             "."),
      false);
}
