#include "gui/MainForm.h"

#include "files/FileFormat.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QFrame>
#include <QIcon>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTimer>

#include "device/Catalogue.h"
#include "gui/ClickLabel.h"
#include "gui/FocusFrameStyle.h"
#include "gui/HexViewWidget.h"
#include "gui/KeyEntry.h"
#include "gui/PopupList.h"
#include "gui/ProductionPanel.h"
#include "gui/SocketLabel.h"

namespace {

constexpr const char* kWindowCaption =
    "Tandra32 Adapter for the USB Vasko Programmer By Korvane, Inc.   Version 1.00  6 Jan 2007";

// Outer size 717 x 626 with a classic frame: the client area is what is left inside it.
constexpr int kClientWidth = 709;
constexpr int kClientHeight = 599;

QFont namedFont(const QString& family, int pixelSize, bool bold, bool fixedPitch) {
  QFont font;
  if (QFontDatabase::families().contains(family)) {
    font = QFont(family);
  } else if (fixedPitch) {
    // Columns of the lists and the hex view must line up.
    font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  } else {
    // Stand-ins for the narrow bitmap font run wider; keep the captions inside their buttons.
    font.setStretch(QFont::Condensed);
    pixelSize -= 1;
  }
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

// Yellow captions on a navy face, the window's own colour: a light face would leave yellow
// text next to unreadable, and these buttons carry the device type and the blank check.
void paintYellowOnNavy(QPushButton* button) {
  QPalette palette = button->palette();
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    palette.setColor(group, QPalette::ButtonText, Qt::yellow);
  }
  palette.setColor(QPalette::Button, QColor(0x00, 0x00, 0x80));
  palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x9A, 0x9A, 0x60));
  button->setPalette(palette);
}

QFont buttonFont() {
  return namedFont("MS Sans Serif", 12, true, false);
}
QFont boxFont(int pixelSize) {
  return namedFont("Fixedsys", pixelSize, false, true);
}

void paint(QWidget* widget, QPalette::ColorRole role, const QColor& colour) {
  QPalette palette = widget->palette();
  if (role == QPalette::ButtonText) {
    // A disabled button still greys its caption.
    palette.setColor(QPalette::Active, role, colour);
    palette.setColor(QPalette::Inactive, role, colour);
  } else {
    palette.setColor(role, colour);
  }
  widget->setPalette(palette);
}

}  // namespace

void TMainForm::setUpApplication() {
  // The window's caption stays exactly its own (no application name after it); shells match
  // the window to its launcher by the desktop file's name.
  QGuiApplication::setDesktopFileName("org.tandra.TandraUSB");
  QApplication::setWindowIcon(QIcon(":/icon.png"));
}

TMainForm::TMainForm(tandra::FtApi& api, QWidget* parent)
    : QWidget(parent), dialogs_(std::make_unique<QtDialogs>()), workbench_(api, *this) {
  setObjectName("MainForm");
  setAcceptDrops(true);
  createControls();
  connectHandlers();
  createKeys();
  workbench_.FormCreate();
}

TMainForm::~TMainForm() {
  // The controls outlive this part of the window by a moment: what they report while they are
  // taken down (the hex view losing the focus) must not reach handlers of a window that is gone.
  for (QObject* child : findChildren<QObject*>())
    QObject::disconnect(child, nullptr, this, nullptr);
}

void TMainForm::createControls() {
  setWindowTitle(kWindowCaption);
  resize(kClientWidth, kClientHeight);
  setAutoFillBackground(true);
  paint(this, QPalette::Window, QColor(0x00, 0x00, 0x80));
  QFont windowFont = namedFont("MS Sans Serif", 14, true, false);
  setFont(windowFont);
  paint(this, QPalette::WindowText, palette().color(QPalette::ToolTipText));

  auto panel = [this](const char* name, int x, int y, int w, int h, const QColor& colour) {
    auto* frame = new QFrame(this);
    frame->setObjectName(name);
    frame->setGeometry(x, y, w, h);
    frame->setFrameShape(QFrame::Panel);
    frame->setFrameShadow(QFrame::Raised);
    frame->setAutoFillBackground(true);
    paint(frame, QPalette::Window, colour);
    return frame;
  };
  auto button = [this](const char* name, int x, int y, int w, const char* text, const char* hint) {
    auto* b = new QPushButton(QString::fromUtf8(text), this);
    b->setObjectName(name);
    b->setGeometry(x, y, w, 21);
    b->setFont(buttonFont());
    if (hint != nullptr) b->setToolTip(QString::fromUtf8(hint));
    return b;
  };
  auto label = [this](QLabel* l, const char* name, int x, int y, int w, int h, const char* text,
                      const QColor& colour) {
    l->setParent(this);
    l->setObjectName(name);
    l->setGeometry(x, y, w, h);
    l->setText(QString::fromUtf8(text));
    l->setAutoFillBackground(true);
    paint(l, QPalette::Window, colour);
    return l;
  };
  auto list = [this](const char* name, int x, int y, int w, int h, QStringList items) {
    auto* l = new PopupList(this);
    l->setObjectName(name);
    l->setGeometry(x, y, w, h);
    l->setFont(boxFont(12));
    paint(l, QPalette::Text, Qt::black);
    l->addItems(items);
    l->hide();
    return l;
  };
  auto entry = [this](const char* name, int x, int y, int w, int maxLength) {
    auto* e = new KeyEntry(this);
    e->setObjectName(name);
    e->setGeometry(x, y, w, 23);
    e->setFont(boxFont(13));
    e->setMaxLength(maxLength);
    paint(e, QPalette::Text, Qt::black);
    e->hide();
    return e;
  };

  // Panels first, so the buttons stand on them.
  Panel1 = panel("Panel1", 6, 2, 117, 27, Qt::red);
  Panel2 = panel("Panel2", 6, 36, 117, 101, Qt::green);
  Panel3 = panel("Panel3", 6, 148, 117, 125, Qt::yellow);
  Panel4 = panel("Panel4", 6, 380, 117, 100, Qt::magenta);
  Panel5 = panel("Panel5", 6, 485, 133, 75, Qt::cyan);

  Program_Eprom = button("Program_Eprom", 10, 5, 110, "&Program Device",
                         "Programs the Device from the Buffer..");
  Quit_Func_But =
      button("Quit_Func_But", 144, 5, 103, "&Quit = 00000", "Lets You Stop a Fuction in Process..");
  Blank_Chk =
      button("Blank_Chk", 10, 40, 110, "&Blank Check", "Checks for FF in All Address Loctions..");
  paintYellowOnNavy(Blank_Chk);
  Verify_Eprom = button("Verify_Eprom", 10, 64, 110, "&Verify Device",
                        "Compares Data in the Device to the Buffer..");
  Move_Eprom = button("Move_Eprom", 10, 88, 110, "&Move Device #1",
                      "Copies Data in the Device to the Buffer..");
  Prg_Compare = button("Prg_Compare", 10, 112, 110, "Program Compare", nullptr);
  Chk_Sum_But = button("Chk_Sum_But", 10, 152, 110, "&Check Sum=0000",
                       "Makes a Check Sum of the Data in the Buffer from Start to End of Eprom..");
  Load_But = button("Load_But", 10, 176, 110, "&Load Buffer",
                    "Loads the Buffer from a Binary or Hex File.. ");
  Save_But = button("Save_But", 10, 200, 110, "&Save Buffer",
                    "Saves the Buffer to Disk in Hex or Binary Format..");
  File_But =
      button("File_But", 10, 224, 110, "Binary File", "Sets the File Format to Binary or Hex..");
  Device = button("Device", 10, 248, 110, "No Device", "Selects the Device Type..");
  paintYellowOnNavy(Device);
  Edit = button("Edit", 10, 384, 110, "&Edit Buffer", nullptr);
  paint(Edit, QPalette::ButtonText, QColor(0x00, 0x00, 0x80));  // navy: readable on the face
  Fill = button("Fill", 10, 408, 110, "&Fill Buffer", nullptr);
  paint(Fill, QPalette::ButtonText, Qt::blue);
  Vpp_But = button("Vpp_But", 10, 432, 110, " Vpp = 12.5",
                   "Changes the Program Voltage for the Device Selected..");
  Pulse = button("Pulse", 10, 456, 110, "Pulse = 40", nullptr);
  Start_Buf_Add = button("Start_Buf_Add", 10, 488, 125, "Start Of Buffer=0000", nullptr);
  Start_Add = button("Start_Add", 10, 512, 125, "Start Of Eprom=0000", nullptr);
  End_Add = button("End_Add", 10, 536, 125, "End Of Eprom=0000", nullptr);

  StaticText3 =
      label(new ClickLabel, "StaticText3", 280, 5, 141, 17, "Looking For Programmer", Qt::yellow);
  StaticText3->adjustSize();  // the label grows with its text
  StaticText2 = label(new QLabel, "StaticText2", 144, 32, 69, 17, "", Qt::red);
  StaticText2->hide();
  for (int n = 1; n <= 5; ++n) {
    const QByteArray name = "Device_" + QByteArray::number(n);
    auto* socket = new SocketLabel;
    label(socket, name.constData(), 10, 280 + 18 * (n - 1), 165, 18, "", Qt::cyan);
    socket->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    socket->hide();
    Device_n[static_cast<std::size_t>(n - 1)] = socket;
  }
  StaticText4 = label(new QLabel, "StaticText4", 10, 570, 243, 17,
                      "Last File Loaded in Buffer=No File Loaded", QColor(0xC0, 0xC0, 0xC0));
  StaticText4->adjustSize();

  Edit_1 = new HexViewWidget(this);
  Edit_1->setObjectName("Edit_1");
  Edit_1->setGeometry(184, 80, 521, 273);
  Edit_1->setFont(namedFont("Courier New", 12, false, true));
  Edit_1->fitRows(tandra::HexView::kRows + 1);
  paint(Edit_1, QPalette::Text, Qt::black);
  Edit_1->hide();

  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName("Memo1");
  Memo1->setGeometry(200, 353, 397, 148);
  Memo1->setFont(boxFont(12));
  paint(Memo1, QPalette::Text, Qt::black);
  Memo1->setPlainText("Memo1");
  // The log is read and copied, never typed into; Tab goes on to the next control.
  Memo1->setReadOnly(true);
  Memo1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  Memo1->setTabChangesFocus(true);

  Chg_Edit_Add = entry("Chg_Edit_Add", 244, 48, 59, 6);
  Num_Of_Devices =
      list("Num_Of_Devices", 296, 48, 103, 97, {"# of Devices", "1", "2", "3", "4", "5"});
  Num_Of_Devices->fitRows();
  QStringList deviceRows;
  for (std::string_view row : tandra::deviceListRows()) {
    deviceRows << QString::fromUtf8(row.data(), static_cast<qsizetype>(row.size()));
  }
  Device_Box = list("Device_Box", 386, 44, 319, 485, deviceRows);
  Device_Box->fitRows();
  QStringList formatItems;
  for (const tandra::FileFormatInfo& format : tandra::fileFormats()) {
    formatItems << QString::fromUtf8(format.listItem.data(),
                                     static_cast<qsizetype>(format.listItem.size()));
  }
  File_Type =
      list("File_Type", 128, 200, 105, 18 * static_cast<int>(formatItems.size()), formatItems);
  FillBox = list("FillBox", 128, 384, 160, 72,
                 {"Fill Buffer With 00", "Fill Buffer With FF", "Fill Buffer With XX", "Cancel"});
  FillEdit = entry("FillEdit", 296, 413, 38, 2);
  P_Edit = entry("P_Edit", 128, 456, 38, 3);
  P_Edit->setText("40");

  // Under the progress note, clear of the hex view's address entry: how far the running work
  // has got.
  Progress = new QProgressBar(this);
  Progress->setObjectName("Progress");
  Progress->setGeometry(310, 54, 290, 18);
  Progress->setFont(buttonFont());
  Progress->setTextVisible(true);
  Progress->hide();

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(3000);
  waitTimer_ = new QTimer(this);
  waitTimer_->setSingleShot(true);
  waitTimer_->setTimerType(Qt::PreciseTimer);

  // Made last, so that it outlives the controls it draws.
  auto* focusStyle = new FocusFrameStyle;
  focusStyle->setParent(this);
  for (QWidget* child : findChildren<QWidget*>()) child->setStyle(focusStyle);

  buttons_ = {Quit_Func_But, Program_Eprom, Start_Buf_Add, Verify_Eprom, Chk_Sum_But, Prg_Compare,
              Move_Eprom,    Blank_Chk,     Start_Add,     Save_But,     Load_But,    File_But,
              Vpp_But,       End_Add,       Device,        Pulse,        Edit,        Fill};
}

void TMainForm::connectHandlers() {
  connect(static_cast<ClickLabel*>(StaticText3), &ClickLabel::clicked, this,
          &TMainForm::StaticText3Click);
  connect(Quit_Func_But, &QPushButton::clicked, this, &TMainForm::Quit_Func_ButClick);
  for (int n = 1; n <= 5; ++n) {
    connect(Device_n[static_cast<std::size_t>(n - 1)], &ClickLabel::clicked, this,
            [this, n] { Device_nClick(n); });
  }
  connect(Timer1, &QTimer::timeout, this, &TMainForm::Timer1Timer);
  connect(Program_Eprom, &QPushButton::clicked, this, &TMainForm::Program_EpromClick);
  connect(Blank_Chk, &QPushButton::clicked, this, &TMainForm::Blank_ChkClick);
  connect(Verify_Eprom, &QPushButton::clicked, this, &TMainForm::Verify_EpromClick);
  connect(Move_Eprom, &QPushButton::clicked, this, &TMainForm::Move_EpromClick);
  connect(Prg_Compare, &QPushButton::clicked, this, &TMainForm::Prg_CompareClick);
  connect(Device, &QPushButton::clicked, this, &TMainForm::DeviceClick);
  connect(Device_Box, &PopupList::picked, this, &TMainForm::Device_BoxClick);
  connect(Num_Of_Devices, &PopupList::picked, this, &TMainForm::Num_Of_DevicesClick);
  connect(Device_Box, &PopupList::cancelled, this, &TMainForm::Device_BoxEscape);
  connect(Num_Of_Devices, &PopupList::cancelled, this, &TMainForm::Num_Of_DevicesEscape);
  connect(FillBox, &PopupList::cancelled, this, &TMainForm::FillBoxEscape);
  connect(File_Type, &PopupList::cancelled, this, &TMainForm::File_TypeEscape);
  // Tab or Escape out of the view goes to the button that opens it, never on to Program Device;
  // the view closes as it loses the focus.
  connect(Edit_1, &HexViewWidget::tabbedAway, this, [this] { Edit->setFocus(Qt::TabFocusReason); });
  connect(Edit_1, &HexViewWidget::escaped, this, [this] { Edit->setFocus(Qt::OtherFocusReason); });
  connect(Vpp_But, &QPushButton::clicked, this, &TMainForm::Vpp_ButClick);
  connect(Pulse, &QPushButton::clicked, this, &TMainForm::PulseClick);
  connect(P_Edit, &KeyEntry::keyTyped, this, &TMainForm::P_EditKeyPress);
  connect(Chk_Sum_But, &QPushButton::clicked, this, &TMainForm::Chk_Sum_ButClick);
  connect(Fill, &QPushButton::clicked, this, &TMainForm::FillClick);
  connect(FillBox, &PopupList::picked, this, &TMainForm::FillBoxClick);
  connect(FillEdit, &KeyEntry::keyTyped, this, &TMainForm::FillEditKeyPress);
  connect(File_But, &QPushButton::clicked, this, &TMainForm::File_ButClick);
  connect(File_Type, &PopupList::picked, this, &TMainForm::File_TypeClick);
  connect(Load_But, &QPushButton::clicked, this, &TMainForm::Load_ButClick);
  connect(Save_But, &QPushButton::clicked, this, &TMainForm::Save_ButClick);
  connect(Edit, &QPushButton::clicked, this, &TMainForm::EditClick);
  connect(Edit_1, &HexViewWidget::keyDown, this, &TMainForm::Edit_1KeyDown);
  connect(Edit_1, &HexViewWidget::keyTyped, this, &TMainForm::Edit_1KeyPress);
  connect(Edit_1, &HexViewWidget::keyUp, this, &TMainForm::Edit_1KeyUp);
  connect(Edit_1, &HexViewWidget::clickedAt, this, &TMainForm::Edit_1MouseDown);
  connect(Edit_1, &HexViewWidget::focusLost, this, &TMainForm::Edit_1Exit);
  connect(Edit_1, &HexViewWidget::addressAsked, this, &TMainForm::openAddressEntry);
  connect(Chg_Edit_Add, &KeyEntry::keyTyped, this, &TMainForm::Chg_Edit_AddKeyPress);
}

int TMainForm::clickedRow(const QListWidget* list) {
  return list->currentRow();
}

void TMainForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // The first display of the window is its activation: that is when the programmer search runs.
  if (!activated_) {
    activated_ = true;
    readSettings();  // the window's place among them
    QTimer::singleShot(0, this, &TMainForm::FormActivate);
  }
}

void TMainForm::centreOnScreen() {
  const QScreen* shownOn = screen();
  if (shownOn == nullptr) return;
  QRect frame = frameGeometry();
  frame.moveCenter(shownOn->availableGeometry().center());
  move(frame.topLeft());
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (handlerDepth_ > 0) {
    // A handler is still talking to the programmer: ask it to stop, and close once it has
    // unwound, so that nothing is ever sent on a closed device. The stop is held, as the
    // panel's is: a Quit would be cleared by the next idle command, and a production set would
    // go on to its next operation (a page for every chip) after the window was closed.
    workbench_.session.stop();
    closePending_ = true;
    event->ignore();
    return;
  }
  // The panel's run ends with the window (its statistics are the panel's last words).
  if (productionPanel_) productionPanel_->close();
  workbench_.FormCloseQuery();
  keepChoices();
  event->accept();
}
