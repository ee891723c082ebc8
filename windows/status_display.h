// The main window's status display: the statistics of received and sent records, the date
// and time, the host's shutdown and restart times, the status line and the six-lamp state
// indicator, drawn at the fixed positions of the layout (core/statistics.h StatFields,
// in twips from the window's client origin).
//
// Formatting and fitting are the statistics core's (StatFieldText); this widget measures
// with its font, draws what the core gives and carries the tooltips of the fields. Below
// the fields a row says what Torvan is doing or waiting for now (RunState::Attivita).
#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <QWidget>
#include <string>

#include "core/program.h"

namespace torvan {

// The font of the layouts measured in twips (the status display, the browser's grid): a
// small, narrow face, so that the fields' texts fit the widths they were given.
QFont LayoutFont(QFont base);

// The state lamp `Sem`: six rectangles, one visible at a time. Every 10th display tick (5
// seconds) the rectangle of the run state's colour is shown, alternately bright and dark:
// red (off), yellow (suspended), green (active).
class Lamp {
 public:
  // One display tick with the current run state.
  void Tick(StatoSincronismo state);
  // The visible rectangle, 0..5 (Sem 0 red, 1 dark red, 2 yellow, 3 dark yellow, 4 green,
  // 5 dark green).
  int visible() const { return visible_; }
  static QColor Colour(int sem);

 private:
  int ticks_ = 0;
  int phase_ = 0;
  int visible_ = 0;
};

class StatusDisplay final : public QWidget {
 public:
  StatusDisplay(Program& program, QWidget* parent);

  // Video: one tick of the 500 ms display timer: lamp, date and time texts, the counters'
  // overflow guard, then a redraw. The caller lets pending events run.
  void Video();

  const Lamp& lamp() const { return lamp_; }
  // The text field `i` of StatFields() gets when drawn now: formatted, fitted and padded.
  std::string FieldText(size_t i) const;
  // The tooltip under a point of the widget, or empty.
  QString ToolTipAt(const QPoint& p) const;
  // The row below the last message: "Attività: " and what Torvan is doing or waiting for
  // now (RunState::Attivita), empty when nothing long is under way.
  QString ActivityText() const;
  // Twips on this widget's screen.
  int Px(int twips) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  int TextWidthTwips(std::string_view cp1252) const;
  QRect FieldRect(size_t i) const;
  QRect LampRect() const;
  QRect ActivityRect() const;

  Program& program_;
  Lamp lamp_;
};

}  // namespace torvan
