#pragma once

#include <QApplication>
#include <QPointer>
#include <QQueue>
#include <QStringList>
#include <QWidget>
#include <functional>

#include "gui/Dialogs.h"

// Answers the window's boxes and dialogs from a script and records what they said. As a window
// manager does when a modal box or dialog closes, the window it was opened over becomes the
// active one.
class ScriptedDialogs final : public Dialogs {
 public:
  struct Record {
    QStringList* boxes;
    QQueue<bool>* yesNo;
    QQueue<QString>* files;
  };
  explicit ScriptedDialogs(Record record) : record_(record) {}

  void showBox(QWidget* parent, tandra::BoxKind, const QString& text,
               std::optional<tandra::ScreenPoint>) override {
    record_.boxes->append(text);
    if (onBox) onBox(parent);
    closedOver(parent);
  }
  // Runs while a box is up, with the window behind it.
  std::function<void(QWidget*)> onBox;
  bool askYesNo(QWidget* parent, const QString& text, std::optional<tandra::ScreenPoint>) override {
    record_.boxes->append(text);
    closedOver(parent);
    return record_.yesNo->isEmpty() ? false : record_.yesNo->dequeue();
  }
  QString openFileName(QWidget* parent, const QString&, int, bool sRecords) override {
    lastOpenOfferedSRecords = sRecords;
    lastOpenParent = parent;
    closedOver(parent);
    return nextFile();
  }
  bool lastOpenOfferedSRecords = false;
  QPointer<QWidget> lastOpenParent;
  QString saveFileName(QWidget* parent, const QString&, int) override {
    closedOver(parent);
    return nextFile();
  }

 private:
  static void closedOver(QWidget* parent) {
    if (parent != nullptr && parent->window()->isVisible()) {
      QApplication::setActiveWindow(parent->window());
    }
  }
  QString nextFile() { return record_.files->isEmpty() ? QString() : record_.files->dequeue(); }
  Record record_;
};
