#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "link/Host.h"

class QWidget;

// The file dialogs' filters, one for each dialog extension of the formats, then All; with
// `everyName` each offers every name its formats' files go by.
QStringList fileDialogFilters(bool everyName);

// The window's modal boxes and file dialogs, behind one seam so that tests answer them
// without a person.
class Dialogs {
 public:
  virtual ~Dialogs() = default;
  virtual void showBox(QWidget* parent, tandra::BoxKind kind, const QString& text,
                       std::optional<tandra::ScreenPoint> topLeft) = 0;
  virtual bool askYesNo(QWidget* parent, const QString& text,
                        std::optional<tandra::ScreenPoint> topLeft) = 0;
  // An empty string when the operator cancels. With `everyName` the filters offer every name
  // image files go by (an image file is opened); without, only the dialog extensions.
  virtual QString openFileName(QWidget* parent, const QString& defaultSuffix, int filterIndex,
                               bool everyName) = 0;
  virtual QString saveFileName(QWidget* parent, const QString& defaultSuffix, int filterIndex) = 0;

  // The folders the open and the save dialog start in; empty for the working folder.
  QString openFolder;
  QString saveFolder;
};

// Qt's own message boxes and file dialogs.
class QtDialogs final : public Dialogs {
 public:
  void showBox(QWidget* parent, tandra::BoxKind kind, const QString& text,
               std::optional<tandra::ScreenPoint> topLeft) override;
  bool askYesNo(QWidget* parent, const QString& text,
                std::optional<tandra::ScreenPoint> topLeft) override;
  QString openFileName(QWidget* parent, const QString& defaultSuffix, int filterIndex,
                       bool everyName) override;
  QString saveFileName(QWidget* parent, const QString& defaultSuffix, int filterIndex) override;
};
