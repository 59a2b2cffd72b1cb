// The production panel's controls: where they stand, their keys and what they are wired to.
// The focus goes through them in the order they are made here, as they read: the images, the
// serial numbers, the log, then the actions.
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>

#include "gui/MainForm.h"
#include "gui/ProductionPanel.h"
#include "production/SessionFacts.h"

namespace {

QLabel* newLabel(QWidget* parent, const QString& text = {}) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  return label;
}

// A label that shows as much of its text as its room holds, the middle of the rest as "...": a
// long file name or a file's error does not widen the panel past the screen. Its hint holds the
// whole text.
class ElidingLabel final : public QLabel {
 public:
  explicit ElidingLabel(QWidget* parent, Qt::TextElideMode mode = Qt::ElideMiddle)
      : QLabel(parent), mode_(mode) {
    setTextFormat(Qt::PlainText);
  }
  QSize minimumSizeHint() const override {
    return {fontMetrics().averageCharWidth() * 16, QLabel::minimumSizeHint().height()};
  }

 protected:
  void paintEvent(QPaintEvent* /*event*/) override {
    QPainter painter(this);
    const QRect room = contentsRect();
    const QString shown = fontMetrics().elidedText(text(), mode_, room.width());
    style()->drawItemText(&painter, room, Qt::AlignLeft | Qt::AlignVCenter, palette(), isEnabled(),
                          shown, foregroundRole());
  }

 private:
  Qt::TextElideMode mode_;
};

// The choices' room: it asks for the whole of what it holds where the screen has room for it,
// and gives way down to a few lines (then scrolling) where it has not.
class ChoicesArea final : public QScrollArea {
 public:
  explicit ChoicesArea(QWidget* parent) : QScrollArea(parent) {
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::NoFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  }
  QSize sizeHint() const override {
    const QSize inner = widget() != nullptr ? widget()->sizeHint() : QSize();
    return inner + QSize(verticalScrollBar()->sizeHint().width(), 0);
  }
  QSize minimumSizeHint() const override {
    const int width = widget() != nullptr ? widget()->minimumSizeHint().width() : 0;
    return {width + verticalScrollBar()->sizeHint().width(), 6 * fontMetrics().height()};
  }
};

// An entry's label, whose underlined letter (with Alt) puts the keyboard into the entry.
QLabel* buddyLabel(QWidget* parent, const QString& text, QWidget* buddy) {
  auto* label = new QLabel(text, parent);
  label->setBuddy(buddy);
  return label;
}

QPushButton* newButton(QWidget* parent, const QString& caption, const QString& hint) {
  auto* button = new QPushButton(caption, parent);
  button->setToolTip(hint);
  button->setAutoDefault(false);
  return button;
}

QLineEdit* newEntry(QWidget* parent, const QString& name, const QString& pattern, int width) {
  auto* entry = new QLineEdit(parent);
  entry->setObjectName(name);
  if (!pattern.isEmpty()) {
    entry->setValidator(new QRegularExpressionValidator(QRegularExpression(pattern), entry));
  }
  if (width > 0) entry->setFixedWidth(width);
  return entry;
}

QFont largeBold(int pixelSize) {
  QFont font;
  font.setPixelSize(pixelSize);
  font.setBold(true);
  return font;
}

}  // namespace

void ProductionPanel::createControls() {
  setWindowTitle("Tandra USB - Production Run");
  auto* column = new QVBoxLayout(this);
  sessionLine = newLabel(this);
  sessionLine->setFont(largeBold(15));
  column->addWidget(sessionLine);
  auto* choices = new QWidget(this);
  auto* inner = new QVBoxLayout(choices);
  inner->setContentsMargins(0, 0, 0, 0);
  inner->addWidget(createImageControls());
  auto* settings = new QHBoxLayout;
  settings->addWidget(createSerialControls(), 3);
  auto* right = new QVBoxLayout;
  right->addWidget(createLogControls());
  right->addWidget(createRunBox(), 1);
  settings->addLayout(right, 2);
  inner->addLayout(settings);
  inner->addStretch(1);
  choicesArea = new ChoicesArea(this);
  choicesArea->setWidget(choices);
  column->addWidget(choicesArea, 1);
  column->addLayout(createActions());

  verdict = newLabel(this);
  verdict->setObjectName("verdict");
  verdict->setFont(largeBold(42));
  verdict->setAlignment(Qt::AlignCenter);
  verdict->setMinimumHeight(68);
  column->addWidget(verdict);
  prompt = newLabel(this);
  prompt->setFont(largeBold(22));
  prompt->setAlignment(Qt::AlignCenter);
  prompt->setWordWrap(true);
  column->addWidget(prompt);
  // A run's statistics, the width of the panel, once it has ended.
  statistics = newLabel(this);
  statistics->setObjectName("statistics");
  statistics->hide();
  column->addWidget(statistics);
  message = newLabel(this);
  message->setWordWrap(true);
  column->addWidget(message);
}

QWidget* ProductionPanel::createRunBox() {
  auto* box = new QGroupBox("This run", this);
  auto* lines = new QVBoxLayout(box);
  counters = newLabel(box);
  counters->setWordWrap(true);
  lines->addWidget(counters);
  lines->addStretch(1);
  return box;
}

QWidget* ProductionPanel::createImageControls() {
  auto* box = new QGroupBox("Images", this);
  auto* grid = new QGridLayout(box);
  loadBuffer = newButton(box, "&Load buffer...",
                         "Loads the main window's buffer from a file, as its Load Buffer does: the "
                         "image of every socket without a file of its own");
  bufferLine = new ElidingLabel(box);
  grid->addWidget(loadBuffer, 0, 0);
  grid->addWidget(bufferLine, 0, 1, 1, 5);

  lanes = new QComboBox(box);
  lanes->addItems({"no split", "2 lanes (16-bit bus)", "4 lanes (32-bit bus)"});
  lanes->setToolTip("Sockets 1, 2 (3, 4) take lanes 1, 2 (3, 4) of one file of the whole bus");
  busFile = newButton(box, "&Bus file...", "The file of the whole bus, which the lanes come from");
  busLine = new ElidingLabel(box);
  grid->addWidget(buddyLabel(box, "Spl&it into", lanes), 1, 0);
  grid->addWidget(lanes, 1, 1);
  grid->addWidget(busFile, 1, 2);
  grid->addWidget(busLine, 1, 3, 1, 3);

  const char* headings[] = {"Socket", "Image", "Check sum", "CRC-32", "Next serial", "Last chip"};
  for (int column = 0; column < 6; ++column) {
    QLabel* heading = newLabel(box, headings[column]);
    heading->setStyleSheet("font-weight: bold");
    if (column == 2 || column == 3) {
      heading->setToolTip("Of the image as loaded, before a serial number is written into it");
    }
    grid->addWidget(heading, 2, column);
  }
  for (int socket = 1; socket <= 5; ++socket) {
    SocketRow& row = rows[static_cast<std::size_t>(socket - 1)];
    const QString n = QString::number(socket);
    row.file = newButton(box, "Socket &" + n + " file...",
                         "A file of its own for socket " + n + ", in place of the buffer");
    row.image = new ElidingLabel(box);
    row.image->setMinimumWidth(240);
    row.checksum = newLabel(box);
    row.crc = newLabel(box);
    row.serial = newLabel(box);
    // A failure's words and address first: what was expected and read may give way to "...".
    row.verdict = new ElidingLabel(box, Qt::ElideRight);
    row.verdict->setMinimumWidth(290);
    const int line = 2 + socket;
    grid->addWidget(row.file, line, 0);
    grid->addWidget(row.image, line, 1);
    grid->addWidget(row.checksum, line, 2);
    grid->addWidget(row.crc, line, 3);
    grid->addWidget(row.serial, line, 4);
    grid->addWidget(row.verdict, line, 5);
  }
  clearFiles = newButton(box, "&Clear socket files", "Every socket takes the buffer again");
  grid->addWidget(clearFiles, 8, 0);
  grid->setColumnStretch(1, 2);
  grid->setColumnStretch(5, 3);
  return box;
}

QWidget* ProductionPanel::createSerialControls() {
  auto* box = new QGroupBox("Serial numbers", this);
  auto* grid = new QGridLayout(box);
  numberChips = new QCheckBox("&Number the chips", box);
  numberChips->setToolTip("Every chip gets a serial number of its own, written into its image");
  grid->addWidget(numberChips, 0, 0, 1, 4);

  // Numbers as data sheets and scripts write them, and as tandra-cli takes them: hexadecimal
  // with or without 0x, whole numbers in decimal or after 0x.
  serialAddress = newEntry(box, "serialAddress", "(0[xX])?[0-9A-Fa-f]{1,5}", 80);
  serialAddress->setToolTip("Where the number goes in the chip, in hexadecimal");
  serialFormat = new QComboBox(box);
  serialFormat->addItems(
      {"binary, low byte first", "binary, high byte first", "BCD", "ASCII digits"});
  serialWidth = new QSpinBox(box);
  serialWidth->setRange(0, 20);
  serialWidth->setSpecialValueText("its own");
  serialWidth->setSuffix(" bytes");
  serialWidth->setToolTip("The bytes the number takes; its own: 4, or 8 ASCII digits");
  grid->addWidget(buddyLabel(box, "&Address", serialAddress), 1, 0);
  grid->addWidget(serialAddress, 1, 1);
  grid->addWidget(buddyLabel(box, "&Format", serialFormat), 1, 2);
  grid->addWidget(serialFormat, 1, 3);
  grid->addWidget(buddyLabel(box, "&Width", serialWidth), 2, 2);
  grid->addWidget(serialWidth, 2, 3);

  serialStart = newEntry(box, "serialStart", "0[xX][0-9A-Fa-f]{1,16}|[0-9]{1,20}", 170);
  serialStart->setText("1");
  serialStart->setToolTip("The first chip's number; it moves on as numbers are given");
  serialStep = newEntry(box, "serialStep", "0[xX][0-9A-Fa-f]{1,16}|[0-9]{1,20}", 80);
  serialStep->setText("1");
  grid->addWidget(buddyLabel(box, "&Start", serialStart), 2, 0);
  grid->addWidget(serialStart, 2, 1);
  grid->addWidget(buddyLabel(box, "S&tep", serialStep), 3, 0);
  grid->addWidget(serialStep, 3, 1);

  ledgerPath = newEntry(box, "ledgerPath", {}, 0);
  ledgerPath->setToolTip(
      "A ledger file that every run on the line takes its numbers from; its "
      "format, width, step and next number stand in for those above");
  chooseLedger = newButton(box, "C&hoose...", "Chooses the ledger file");
  makeLedger = newButton(box, "&Make ledger",
                         "Starts a ledger in the file named, at the start number, with the "
                         "format, width and step above");
  grid->addWidget(buddyLabel(box, "Led&ger", ledgerPath), 4, 0);
  auto* ledgerRow = new QHBoxLayout;
  ledgerRow->addWidget(ledgerPath, 1);
  ledgerRow->addWidget(chooseLedger);
  ledgerRow->addWidget(makeLedger);
  grid->addLayout(ledgerRow, 4, 1, 1, 3);

  reuseFailed = new QCheckBox("&Reuse failed chips' numbers", box);
  reuseFailed->setToolTip("A chip that did not pass gives its number back for the next set");
  perBoard = new QCheckBox("One number per boar&d", box);
  perBoard->setToolTip(
      "With a split: one number for each board, at the address as its "
      "processor sees the bus");
  grid->addWidget(reuseFailed, 5, 0, 1, 2);
  grid->addWidget(perBoard, 5, 2, 1, 2);
  nextNumbers = newLabel(box);
  nextNumbers->setWordWrap(true);
  grid->addWidget(nextNumbers, 6, 0, 1, 4);
  return box;
}

QWidget* ProductionPanel::createLogControls() {
  auto* box = new QGroupBox("Log", this);
  auto* grid = new QGridLayout(box);
  logPath = newEntry(box, "logPath", {}, 0);
  logPath->setToolTip("One line per chip, appended: none when empty");
  chooseLog = newButton(box, "Pic&k...", "Chooses the log file");
  csvLog = new QCheckBox("CS&V, for spreadsheets", box);
  csvLog->setToolTip("Comma-separated lines with the same fields, in place of JSON lines");
  grid->addWidget(buddyLabel(box, "L&og file", logPath), 0, 0);
  grid->addWidget(logPath, 0, 1);
  grid->addWidget(chooseLog, 0, 2);
  grid->addWidget(csvLog, 1, 1, 1, 2);
  logLine = newLabel(box);
  logLine->setWordWrap(true);
  grid->addWidget(logLine, 2, 0, 1, 3);
  return box;
}

QLayout* ProductionPanel::createActions() {
  auto* row = new QHBoxLayout;
  programSet = newButton(this, "&Program set",
                         "Program Compare, Program and Verify on every socket in use (Enter)");
  programSet->setFont(largeBold(16));
  programSet->setMinimumHeight(40);
  stopSet = newButton(this, "Stop set", "Stops the set under way (Alt+Q)");
  // At once, not after a button's press is shown: the page under way is the last.
  auto* stopKey = new QShortcut(QKeySequence("Alt+Q"), this);
  stopKey->setContext(Qt::WindowShortcut);
  connect(stopKey, &QShortcut::activated, stopSet, &QPushButton::click);
  endRun = newButton(this, "&End run", "Ends the run here and shows its statistics");
  closePanel = newButton(this, "Close", "Closes the panel; the run ends (Escape, Alt+X)");
  closePanel->setShortcut(QKeySequence("Alt+X"));
  row->addWidget(programSet, 2);
  row->addWidget(stopSet, 1);
  row->addWidget(endRun, 1);
  row->addWidget(closePanel, 1);
  return row;
}

void ProductionPanel::connectControls() {
  connect(loadBuffer, &QPushButton::clicked, this, [this] {
    if (setRunning_) return;
    if (!form_.loadBufferFor(this)) {
      say("The main window is at work, or one of its lists is open: finish there first.");
    }
    takeKeyboardBack(loadBuffer);
  });
  for (int socket = 1; socket <= 5; ++socket) {
    connect(rows[static_cast<std::size_t>(socket - 1)].file, &QPushButton::clicked, this,
            [this, socket] { chooseSocketFile(socket); });
  }
  connect(clearFiles, &QPushButton::clicked, this, [this] {
    choices_.clearSocketFiles();
    choicesChanged();
  });
  connect(lanes, &QComboBox::currentIndexChanged, this, [this](int index) {
    const tandra::SessionFacts facts = tandra::factsOf(session_);
    choices_.chooseLanes(index == 1   ? 2
                         : index == 2 ? 4
                                      : 0,
                         facts.type != nullptr ? facts.type->endAddress() : 0);
    choicesChanged();
  });
  connect(busFile, &QPushButton::clicked, this, &ProductionPanel::chooseBusFile);
  for (QCheckBox* box : {numberChips, reuseFailed, perBoard, csvLog}) {
    connect(box, &QCheckBox::toggled, this, &ProductionPanel::choicesChanged);
  }
  connect(serialFormat, &QComboBox::currentIndexChanged, this, &ProductionPanel::choicesChanged);
  connect(serialWidth, &QSpinBox::valueChanged, this, &ProductionPanel::choicesChanged);
  for (QLineEdit* entry : {serialAddress, serialStart, serialStep, ledgerPath, logPath}) {
    connect(entry, &QLineEdit::editingFinished, this, [this, entry] {
      if (entry->isModified()) choicesChanged();
      entry->setModified(false);
    });
  }
  connect(chooseLedger, &QPushButton::clicked, this, &ProductionPanel::chooseLedgerFile);
  connect(makeLedger, &QPushButton::clicked, this, &ProductionPanel::createLedger);
  connect(chooseLog, &QPushButton::clicked, this, &ProductionPanel::chooseLogFile);
  connect(programSet, &QPushButton::clicked, this, &ProductionPanel::programSetAsked);
  connect(stopSet, &QPushButton::clicked, this, [this] {
    if (!setRunning_) return;
    stopAsked_ = true;
    session_.stop();
  });
  connect(endRun, &QPushButton::clicked, this, [this] {
    if (setRunning_) return;
    finishRun("The run was ended.");
    refresh();
  });
  connect(closePanel, &QPushButton::clicked, this, &QWidget::close);
}
