#pragma once

#include <QQueue>
#include <QStringList>
#include <functional>

#include "gui/Dialogs.h"

// Answers the window's boxes and dialogs from a script and records what they said.
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
  }
  // Runs while a box is up, with the window behind it.
  std::function<void(QWidget*)> onBox;
  bool askYesNo(QWidget*, const QString& text, std::optional<tandra::ScreenPoint>) override {
    record_.boxes->append(text);
    return record_.yesNo->isEmpty() ? false : record_.yesNo->dequeue();
  }
  QString openFileName(QWidget*, const QString&, int, bool sRecords) override {
    lastOpenOfferedSRecords = sRecords;
    return nextFile();
  }
  bool lastOpenOfferedSRecords = false;
  QString saveFileName(QWidget*, const QString&, int) override { return nextFile(); }

 private:
  QString nextFile() { return record_.files->isEmpty() ? QString() : record_.files->dequeue(); }
  Record record_;
};
