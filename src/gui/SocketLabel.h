#pragma once

#include "gui/ClickLabel.h"

// A socket's label: its words, and with a verdict a mark that does not rest on colour, read
// from across the bench by an operator who cannot tell the red from the green: a tick for a
// chip that passed, a cross for one that failed, drawn at the label's right end.
class SocketLabel final : public ClickLabel {
  Q_OBJECT

 public:
  enum class Mark { None, Passed, Failed };

  // The room the mark takes at the right end, inside the frame; the words stop short of it.
  static constexpr int kMarkRoom = 16;

  explicit SocketLabel(QWidget* parent = nullptr);

  void setMark(Mark mark);
  Mark mark() const { return mark_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Mark mark_ = Mark::None;
};
