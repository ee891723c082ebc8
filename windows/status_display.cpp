#include "windows/status_display.h"

#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <cstdio>

#include "core/statistics.h"
#include "windows/qt_text.h"
#include "windows/twips.h"

namespace torvan {

namespace {

struct Caption {
  const char* text;
  int x, top;  // twips: the left edge, or with `right` the right edge
  bool right;
};

// Column headers (Label1), row headers and the captions of the bottom row. The headers of
// the figures end where their figures end (the field's X + 15), those of the texts begin
// where the texts begin: a header never touches its neighbour, whatever the font.
constexpr Caption kCaptions[] = {
    {"Tempo", 2265, 600, true},
    {"Numero", 3585, 600, true},
    {"Media", 4485, 600, true},
    {"Ritardi", 5805, 600, true},
    {"Libreria", 5925, 600, false},
    {"File", 7545, 600, false},
    {"Ricevuti", 60, 900, false},
    {"Inviati", 240, 1260, false},
    {"Data", 105, 1470, false},
    {"Ora", 1140, 1470, false},
    {"Spegnimento", 1985, 1470, false},
    {"Riaccensione", 3315, 1470, false},
    {"Ultimo messaggio", 4605, 1470, false},
};

// What Torvan is doing or waiting for now (RunState::Attivita), below the last message.
constexpr int kActivityLeft = 105, kActivityTop = 1905, kActivityWidth = 9015;
constexpr char kActivityTooltip[] = "Attivit\xE0 in corso";

// The lamp, as Posizione_Carica places every Sem rectangle.
constexpr int kLampLeft = 1740, kLampTop = 1695, kLampWidth = 75, kLampHeight = 165;
constexpr char kLampTooltip[] = "Stato del sincronismo";

}  // namespace

QFont LayoutFont(QFont base) {
  base.setPointSize(8);
  base.setStretch(QFont::SemiCondensed);
  return base;
}

void Lamp::Tick(StatoSincronismo state) {
  if (++ticks_ < 10) return;
  ticks_ = 0;
  phase_ = 1 - phase_;
  visible_ = int(state) + phase_;
}

QColor Lamp::Colour(int sem) {
  switch (sem) {
    case 0:
      return QColor(255, 0, 0);
    case 1:
      return QColor(192, 0, 0);
    case 2:
      return QColor(255, 255, 0);
    case 3:
      return QColor(192, 192, 0);
    case 4:
      return QColor(0, 255, 0);
    default:
      return QColor(0, 192, 0);
  }
}

StatusDisplay::StatusDisplay(Program& program, QWidget* parent)
    : QWidget(parent), program_(program) {
  setAutoFillBackground(true);
  setFont(LayoutFont(font()));
}

int StatusDisplay::Px(int twips) const { return TwipsToPixels(twips, logicalDpiX()); }

int StatusDisplay::TextWidthTwips(std::string_view cp1252) const {
  return PixelsToTwips(fontMetrics().horizontalAdvance(ToQt(cp1252)), logicalDpiX());
}

std::string StatusDisplay::FieldText(size_t i) const {
  const StatField& f = StatFields()[i];
  return StatFieldText(program_.stats, f, [this](std::string_view t) { return TextWidthTwips(t); });
}

void StatusDisplay::Video() {
  lamp_.Tick(program_.state.Stato_Sincronismo);
  const platform::LocalDateTime now = program_.Now();
  char date[16], time[8];
  std::snprintf(date, sizeof date, "%02d/%02d/%04d", now.day, now.month, now.year);
  std::snprintf(time, sizeof time, "%02d:%02d", now.hour, now.minute);
  program_.stats.Stat_Testi[kDateText] = date;
  program_.stats.Stat_Testi[kTimeText] = time;
  Statistiche_Overflow(program_.stats);
  update();
}

QRect StatusDisplay::FieldRect(size_t i) const {
  const StatField& f = StatFields()[i];
  const int left = f.right ? f.x + 15 - f.width : f.x;
  return QRect(Px(left), Px(f.y), Px(f.width), fontMetrics().height());
}

QRect StatusDisplay::LampRect() const {
  return QRect(Px(kLampLeft), Px(kLampTop), Px(kLampWidth), Px(kLampHeight));
}

QString StatusDisplay::ActivityText() const {
  const std::string& a = program_.state.Attivita;
  return a.empty() ? QString() : ToQt("Attivit\xE0: " + a);
}

QRect StatusDisplay::ActivityRect() const {
  return QRect(Px(kActivityLeft), Px(kActivityTop), Px(kActivityWidth), fontMetrics().height());
}

QString StatusDisplay::ToolTipAt(const QPoint& p) const {
  if (LampRect().contains(p)) return kLampTooltip;
  if (ActivityRect().contains(p)) return QString::fromLatin1(kActivityTooltip);
  for (size_t i = 0; i < StatFields().size(); ++i) {
    if (FieldRect(i).contains(p)) return QString::fromLatin1(StatFields()[i].tooltip);
  }
  return {};
}

bool StatusDisplay::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const QString tip = ToolTipAt(help->pos());
    if (tip.isEmpty()) {
      QToolTip::hideText();
      event->ignore();
    } else {
      QToolTip::showText(help->globalPos(), tip, this);
    }
    return true;
  }
  return QWidget::event(event);
}

void StatusDisplay::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QFontMetrics fm = fontMetrics();
  // The same colour while a command keeps the window from input: the figures stay readable.
  painter.setPen(palette().color(QPalette::Active, QPalette::WindowText));
  for (const Caption& c : kCaptions) {
    const QString text = QString::fromLatin1(c.text);
    const int x = c.right ? Px(c.x) - fm.horizontalAdvance(text) : Px(c.x);
    painter.drawText(QPoint(x, Px(c.top) + fm.ascent()), text);
  }
  const QRect activity = ActivityRect();
  painter.drawText(activity.topLeft() + QPoint(0, fm.ascent()),
                   fm.elidedText(ActivityText(), Qt::ElideRight, activity.width()));
  for (size_t i = 0; i < StatFields().size(); ++i) {
    const StatField& f = StatFields()[i];
    const QString text = ToQt(FieldText(i));
    const int width = fm.horizontalAdvance(text);
    // A right-aligned field ends at X + 15.
    const int x = f.right ? Px(f.x + 15) - width : Px(f.x);
    painter.drawText(QPoint(x, Px(f.y) + fm.ascent()), text);
  }
  const QRect lamp = LampRect();
  painter.setPen(QColor(0, 0, 0));
  painter.setBrush(Lamp::Colour(lamp_.visible()));
  painter.drawRect(lamp.adjusted(0, 0, -1, -1));
}

}  // namespace torvan
