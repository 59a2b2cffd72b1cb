// The window's keys: the Alt keys of the controls whose captions carry none (their captions
// stay as they are; the key is named in the hint), and the list of every key (F1).
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>

#include "gui/MainForm.h"
#include "gui/SocketLabel.h"

namespace {

QString keyName(const QKeySequence& key) {
  return key.toString(QKeySequence::PortableText);
}

// The hint with the control's key after it; the key alone for a control without a hint of its
// own. An empty hint stays empty where the control asks for none (the status line once the
// programmer is found).
QString withKey(const QString& hint, const QKeySequence& key, bool keyAlone) {
  if (key.isEmpty()) return hint;
  if (hint.isEmpty()) return keyAlone ? keyName(key) : hint;
  return hint + " (" + keyName(key) + ")";
}

struct WindowKey {
  const char* keys;
  const char* does;
};

// What each key does, in the order of the window's column, as the list of keys shows it.
constexpr WindowKey kWindowKeys[] = {
    {"Alt+P", "Program Device"},
    {"Alt+Q", "Quit: stops the operation under way"},
    {"Alt+B", "Blank Check"},
    {"Alt+V", "Verify Device"},
    {"Alt+M", "Move Device #1: socket 1 into the buffer"},
    {"Alt+A", "Program Compare"},
    {"Alt+C", "Check Sum"},
    {"Alt+L", "Load Buffer"},
    {"Alt+S", "Save Buffer"},
    {"Alt+I", "the file format (Binary File, Intel Hex File, ...)"},
    {"Alt+D", "the device type, then the number of sockets"},
    {"Alt+1, Alt+2,<br>Alt+3, Alt+4, Alt+5",
     "leave socket 1 to 5 out of the operations, or put it back"},
    {"Alt+E", "Edit Buffer: the hex view"},
    {"Alt+F", "Fill Buffer"},
    {"Alt+O", "Vpp: the next programming voltage"},
    {"Alt+U", "Pulse: the pulse width"},
    {"Alt+R", "look for the programmer again (the status line at the top)"},
    {"Alt+T",
     "the production panel, a window of its own: sets of chips, each socket its image and "
     "serial number, a log and the run's statistics"},
    {"Tab, Shift+Tab", "the next or the previous control"},
    {"Space", "the button in the focus frame"},
    {"Enter", "the row chosen in a list; what was typed in an entry"},
    {"Escape", "closes a list, an entry or the hex view without a choice"},
    {"Ctrl+G", "in the hex view: the address to go to (type it in hexadecimal, then Enter)"},
    {"F1", "this list"},
};

// With a virtual programmer only.
constexpr WindowKey kVirtualKey{"F9",
                                "the virtual programmer's cable: pulled, or put back (then "
                                "Alt+R finds the programmer again)"};

}  // namespace

QString TMainForm::keysText(bool virtualProgrammer) {
  QString text = "<p><b>The keys of this window</b></p><table cellspacing=\"4\">";
  const auto row = [&text](const WindowKey& key) {
    text += QString("<tr><td>%1</td><td>%2</td></tr>").arg(key.keys, key.does);
  };
  for (const WindowKey& key : kWindowKeys) row(key);
  if (virtualProgrammer) row(kVirtualKey);
  return text + "</table>";
}

void TMainForm::createKeys() {
  // Controls whose captions carry no Alt key of their own. Check Sum's caption loses its "&" at
  // the first checksum; its key stays (see setCaption).
  const struct {
    QWidget* control;
    const char* key;
  } keyed[] = {{Prg_Compare, "Alt+A"}, {File_But, "Alt+I"},    {Device, "Alt+D"},
               {Vpp_But, "Alt+O"},     {Pulse, "Alt+U"},       {Chk_Sum_But, "Alt+C"},
               {StaticText3, "Alt+R"}, {Device_n[0], "Alt+1"}, {Device_n[1], "Alt+2"},
               {Device_n[2], "Alt+3"}, {Device_n[3], "Alt+4"}, {Device_n[4], "Alt+5"}};
  for (const auto& entry : keyed) {
    // A key works while its control is shown and enabled, as a click would.
    auto* shortcut = new QShortcut(QKeySequence(entry.key), entry.control);
    shortcut->setContext(Qt::WindowShortcut);
    keyOf_[entry.control] = shortcut;
  }
  for (QPushButton* button : {Prg_Compare, File_But, Device, Vpp_But, Pulse, Chk_Sum_But}) {
    connect(keyOf_[button], &QShortcut::activated, button, [button] { button->animateClick(); });
  }
  connect(keyOf_[StaticText3], &QShortcut::activated, this, &TMainForm::StaticText3Click);
  for (int n = 1; n <= 5; ++n) {
    connect(keyOf_[Device_n[static_cast<std::size_t>(n - 1)]], &QShortcut::activated, this,
            [this, n] { Device_nClick(n); });
  }
  keyCheckSumWhileCaptionHasNone();

  // The panel opens whatever the window is doing: it starts nothing by opening.
  auto* production = new QShortcut(QKeySequence("Alt+T"), this);
  production->setContext(Qt::WindowShortcut);
  connect(production, &QShortcut::activated, this, &TMainForm::openProductionPanel);

  auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
  help->setContext(Qt::WindowShortcut);
  connect(help, &QShortcut::activated, this, [this] {
    handle([this] {
      showBox(tandra::BoxKind::Information, keysText(virtualProgrammer_ != nullptr).toStdString(),
              {});
    });
  });

  // The hints name the keys from the start (Check Sum's caption shows its key at first).
  for (QPushButton* button : {Prg_Compare, File_But, Device, Vpp_But, Pulse}) {
    button->setToolTip(hintWithKey(button, button->toolTip()));
  }
  for (int n = 1; n <= 5; ++n) {
    setHint(tandra::socketLabel(n),
            "Click to leave socket " + std::to_string(n) + " out of the operations");
  }
}

QString TMainForm::hintWithKey(QWidget* control, const QString& hint) const {
  const auto shortcut = keyOf_.constFind(control);
  if (shortcut == keyOf_.cend()) return hint;
  return withKey(hint, (*shortcut)->key(), qobject_cast<QPushButton*>(control) != nullptr);
}

void TMainForm::keyCheckSumWhileCaptionHasNone() {
  // While the caption is "&Check Sum=…" the button's own Alt+C is there: two would clash. Once
  // the caption shows no key, the hint names it.
  const bool captionHasKey = Chk_Sum_But->text().contains('&');
  QShortcut* key = keyOf_[Chk_Sum_But];
  key->setEnabled(!captionHasKey);
  QString hint = Chk_Sum_But->toolTip();
  const QString named = " (" + keyName(key->key()) + ")";
  if (hint.endsWith(named)) hint.chop(named.size());
  Chk_Sum_But->setToolTip(captionHasKey ? hint : hint + named);
}
