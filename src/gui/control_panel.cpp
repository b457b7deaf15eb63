#include "gui/control_panel.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <cmath>

#include "common/time_text.h"
#include "gui/command_ids.h"
#include "gui/control_id.h"
#include "gui/panel_rows.h"
#include "gui/tool_icons.h"
#include "gui/toolbar.h"
#include "gui/tooltip_strings.h"
#include "processing/frame_processor.h"

namespace ulmora {

namespace {

// Geometry of a row, left to right, and of the panel.
constexpr int kLeftX = 8;
constexpr int kFirstRowY = 30;           // below a toolbar of kNominalToolbarHeight
constexpr int kNominalToolbarHeight = 26;
constexpr int kRowStep = 20;
constexpr int kLabelHeight = 17, kLabelGap = 6, kFallbackLabelWidth = 55;
constexpr int kResetStep = 18;
constexpr int kTrackWidth = 258, kTrackHeight = 18, kTrackStep = 260;
constexpr int kValueWidth = 60, kValueHeight = 17;
constexpr int kRightMargin = 6, kBottomMargin = 6;
constexpr int kNominalClientWidth = 420;  // the main window's client width the rows are laid out for
constexpr qreal kSmallestFontPt = 6.5;
constexpr int kSmallestFontPx = 9;

constexpr int RowsWidthWithoutLabel() { return kLeftX + kLabelGap + kResetStep + kTrackStep + kValueWidth + kRightMargin; }

int ThresholdPosition(float value) {
  // Rounded, not truncated: 0.29f x 100 lies just below 29 and must come back as 29.
  const double p = std::round(static_cast<double>(value) * 100.0);
  if (!(p >= kRmsMin)) return kRmsMin;  // also a value that is not a number
  return p > kRmsMax ? kRmsMax : static_cast<int>(p);
}

}  // namespace

ControlPanel::ControlPanel(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("controlPanel"));
  ChooseRowFont();
  BuildRows();
  PlaceRows();
}

// The labels use a small font, as the rows were designed for: the platform's font, made smaller
// only as far as needed for the rows to fit the window's width.
void ControlPanel::ChooseRowFont() {
  rowFont_ = font();
  const int available = kNominalClientWidth - RowsWidthWithoutLabel();
  auto widest = [](const QFont& f) {
    QFontMetrics fm(f);
    int w = 0;
    for (int i = 0; i < kPanelRowCount; ++i) w = qMax(w, fm.horizontalAdvance(QString::fromUtf8(PanelRowAt(i).label)));
    return w;
  };
  int width = widest(rowFont_);
  if (rowFont_.pointSizeF() > 0) {
    for (qreal pt = rowFont_.pointSizeF(); width > available && pt > kSmallestFontPt;) {
      pt -= 0.5;
      rowFont_.setPointSizeF(pt);
      width = widest(rowFont_);
    }
  } else {  // a font given in pixels
    for (int px = rowFont_.pixelSize(); width > available && px > kSmallestFontPx;) {
      rowFont_.setPixelSize(--px);
      width = widest(rowFont_);
    }
  }
  labelWidth_ = width > 0 ? width : kFallbackLabelWidth;
}

void ControlPanel::BuildRows() {
  for (int i = 0; i < kPanelRowCount; ++i) {
    const PanelRow& d = PanelRowAt(i);
    Row& r = rows_[i];
    r.label = new QLabel(QString::fromUtf8(d.label), this);
    r.label->setTextFormat(Qt::PlainText);
    r.label->setFont(rowFont_);
    r.label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    r.reset = new QToolButton(this);
    SetControlId(r.reset, d.resetId);
    r.reset->setIcon(ResetIcon());
    r.reset->setIconSize(QSize(11, 11));
    r.reset->setAutoRaise(true);
    r.reset->setFocusPolicy(Qt::TabFocus);
    r.reset->setAccessibleName(QStringLiteral("Reset ") + QString::fromUtf8(d.label).chopped(1));
    connect(r.reset, &QToolButton::clicked, this, [this, id = d.resetId] { ResetRow(id); });

    r.track = new QSlider(Qt::Horizontal, this);
    SetControlId(r.track, d.trackId);
    r.track->setRange(d.minimum, d.maximum);
    r.track->setValue(d.initial);
    r.track->setTickPosition(QSlider::NoTicks);
    r.track->installEventFilter(this);
    connect(r.track, &QSlider::valueChanged, this, [this, i](int position) { OnTrackbarMoved(i, position); });
    // While dragging, the position is shown the way the row's tooltip shows it.
    connect(r.track, &QSlider::sliderMoved, this, [this, i](int) {
      const QString tip = TooltipText(PanelRowAt(i).trackId);
      if (!tip.isEmpty()) QToolTip::showText(QCursor::pos(), tip, rows_[i].track);
    });

    r.value = new QLineEdit(this);
    SetControlId(r.value, d.valueId);
    r.value->setReadOnly(true);
    r.value->setFont(rowFont_);
    r.value->setTextMargins(1, 0, 1, 0);
    r.value->setText(QString::fromStdString(d.value(d.initial)));
  }
}

void ControlPanel::PlaceRows() {
  int y = kFirstRowY + (toolbarHeight_ - kNominalToolbarHeight);
  for (int i = 0; i < kPanelRowCount; ++i) {
    const Row& r = rows_[i];
    y += PanelRowAt(i).gapAbovePx;
    int x = kLeftX;
    r.label->setGeometry(x, y, labelWidth_, kLabelHeight);
    x += labelWidth_ + kLabelGap;
    r.reset->setGeometry(x, y, kResetButtonSize, kResetButtonSize);
    x += kResetStep;
    r.track->setGeometry(x, y, kTrackWidth, kTrackHeight);
    x += kTrackStep;
    r.value->setGeometry(x, y, kValueWidth, kValueHeight);
    y += kRowStep;
  }
}

QSize ControlPanel::sizeHint() const {
  const int width = qMax(RowsWidthWithoutLabel() + labelWidth_, toolbar_ ? toolbar_->minimumWidth() : 0);
  const QRect last = rows_[kPanelRowCount - 1].track->geometry();
  return QSize(width, last.bottom() + 1 + kBottomMargin);
}

void ControlPanel::SetToolbar(QToolBar* toolbar) {
  toolbar_ = toolbar;
  delayBox_ = ToolbarDelayBox(toolbar);
  if (toolbar) {
    toolbar->setParent(this);
    toolbarHeight_ = qMax(kNominalToolbarHeight, toolbar->sizeHint().height());
    toolbar->setGeometry(0, 0, qMax(width(), toolbar->minimumWidth()), toolbarHeight_);
    toolbar->show();
    PlaceRows();
    updateGeometry();
  }
  if (delayBox_) {
    delayBox_->installEventFilter(this);
    connect(delayBox_, &QLineEdit::textEdited, this, &ControlPanel::OnDelayBoxEdited);
    connect(delayBox_, &QLineEdit::returnPressed, this, &ControlPanel::OnDelayBoxLeft);
    CFrameProcessor* p = Processor();
    SetDelayBoxText(p ? p->Settings().nTimeDelay.load() : 0);
  }
}

void ControlPanel::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (toolbar_) toolbar_->setGeometry(0, 0, qMax(width(), toolbar_->minimumWidth()), toolbarHeight_);
}

bool ControlPanel::eventFilter(QObject* watched, QEvent* event) {
  if (watched == delayBox_ && event->type() == QEvent::FocusOut) {
    OnDelayBoxLeft();
    return false;
  }
  if (event->type() == QEvent::ToolTip) {
    for (const Row& r : rows_) {
      if (watched != r.track) continue;
      const QString tip = TooltipText(ControlIdOf(r.track));
      if (tip.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
      } else {
        QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), tip, r.track);
      }
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

QString ControlPanel::TooltipText(int id) const {
  for (int i = 0; i < kPanelRowCount; ++i) {
    const PanelRow& d = PanelRowAt(i);
    if (id != d.trackId) continue;
    return d.tooltip ? QString::fromStdString(d.tooltip(rows_[i].track->value())) : QString();
  }
  const char* text = TooltipString(id);
  return text ? QString::fromUtf8(text) : QString();
}

void ControlPanel::SetTrack(int row, int position) {
  QSignalBlocker quiet(rows_[row].track);
  rows_[row].track->setValue(position);
}

void ControlPanel::SetValue(int row, const std::string& text) { rows_[row].value->setText(QString::fromStdString(text)); }

void ControlPanel::SetDelayBoxText(uint32_t ms) {
  // Rewriting the text under the person typing it would turn "1:" into "00:001" and leave no room
  // for the rest; the box shows the formatted time once the typing ends.
  if (delayBox_ && !bDelayTyping_) delayBox_->setText(QString::fromStdString(DelayTimeText(ms)));
}

void ControlPanel::OnTrackbarMoved(int row, int position) {
  CFrameProcessor* p = Processor();
  if (!p) return;
  const PanelRow& d = PanelRowAt(row);
  position = position < d.minimum ? d.minimum : (position > d.maximum ? d.maximum : position);
  switch (row) {
    case kRowAmp:
      if (position == p->Settings().nAmp.load()) return;
      p->SetAmp(position);  // the amplification first, then the automatic control's direction is cleared
      SetValue(row, AmpPercentText(position));
      break;
    case kRowBlack:
      if (position == p->Settings().nBlackLevel.load()) return;
      p->SetBlackLevel(position);
      SetValue(row, IntText(position));
      break;
    case kRowGamma:
      if (position == p->Settings().nGamma.load()) return;
      SetValue(row, GammaText(position));
      p->SetGamma(position);
      break;
    case kRowAccum:
      if (position == p->Settings().nCountAccum.load()) return;
      p->SetCountAccum(position);
      SetValue(row, IntText(position));
      break;
    case kRowDelay:
      if (p->SetTimeDelay(static_cast<uint32_t>(position))) SyncDelay(false);
      break;
    case kRowNRH:
    case kRowNRV: {
      const float f = static_cast<float>(position) * 0.01f;
      const bool h = row == kRowNRH;
      if (f == (h ? p->Settings().fRmsH : p->Settings().fRmsV).load()) return;
      if (h)
        p->SetRmsH(f);
      else
        p->SetRmsV(f);
      SetValue(row, ThresholdValueText(f));
      break;
    }
    default:
      break;
  }
}

void ControlPanel::ResetRow(int resetId) {
  CFrameProcessor* p = Processor();
  const int row = PanelRowOfId(resetId);
  if (row < 0 || PanelRowAt(row).resetId != resetId) return;
  switch (row) {
    case kRowAmp:
      if (p && p->Settings().nAmp.load() == kAmpDefault) return;
      if (p) p->SetAmp(kAmpDefault);
      ShowRow(row, kAmpDefault);
      break;
    case kRowBlack:
      if (p && p->Settings().nBlackLevel.load() == 0) return;
      if (p) p->SetBlackLevel(0);
      ShowRow(row, 0);
      break;
    case kRowGamma:
      if (p && p->Settings().nGamma.load() == kGammaLinear) return;
      ShowRow(row, kGammaLinear);
      if (p) p->SetGamma(kGammaLinear);
      break;
    case kRowAccum:
      if (p && p->Settings().nCountAccum.load() == kCountDefault) return;
      if (p) p->SetCountAccum(kCountDefault);
      ShowRow(row, kCountDefault);
      break;
    case kRowDelay:
      if (p && p->SetTimeDelay(0)) SyncDelay(true);
      break;
    case kRowNRH:
    case kRowNRV: {
      const PanelRow& d = PanelRowAt(row);
      const float def = static_cast<float>(d.initial) * 0.01f;
      if (p) {
        const bool h = row == kRowNRH;
        if ((h ? p->Settings().fRmsH : p->Settings().fRmsV).load() == def) return;
        if (h)
          p->SetRmsH(def);
        else
          p->SetRmsV(def);
      }
      SetTrack(row, d.initial);
      SetValue(row, ThresholdValueText(def));
      break;
    }
    default:
      break;
  }
}

void ControlPanel::SyncAllRows() {
  CFrameProcessor* p = Processor();
  ShowAmplification();
  ShowRow(kRowBlack, p ? p->Settings().nBlackLevel.load() : 0);
  ShowRow(kRowGamma, p ? p->Settings().nGamma.load() : kGammaLinear);
  ShowAccumulator();
  SyncDelay(true);
  const float rmsH = p ? p->Settings().fRmsH.load() : 2.0f;
  SetTrack(kRowNRH, ThresholdPosition(rmsH));
  SetValue(kRowNRH, ThresholdValueText(rmsH));
  const float rmsV = p ? p->Settings().fRmsV.load() : 0.5f;
  SetTrack(kRowNRV, ThresholdPosition(rmsV));
  SetValue(kRowNRV, ThresholdValueText(rmsV));
}

void ControlPanel::ShowRow(int row, int position) {
  SetTrack(row, position);
  SetValue(row, PanelRowAt(row).value(position));
}

void ControlPanel::SyncDelay(bool withTrackbar) {
  CFrameProcessor* p = Processor();
  const uint32_t ms = p ? p->Settings().nTimeDelay.load() : 0;
  if (withTrackbar) SetTrack(kRowDelay, static_cast<int>(ms));
  SetDelayBoxText(ms);
  SetValue(kRowDelay, UnsignedText(p ? static_cast<unsigned>(p->Counters().nDelayFrames.load()) : 0u));
}

void ControlPanel::EnableNoiseRows() {
  CFrameProcessor* p = Processor();
  const bool onH = p && p->Settings().bNRH.load() != 0;
  const bool onV = p && p->Settings().bNRV.load() != 0;
  for (int row : {kRowNRH, kRowNRV}) {
    const bool on = row == kRowNRH ? onH : onV;
    rows_[row].reset->setEnabled(on);
    rows_[row].track->setEnabled(on);
    rows_[row].value->setEnabled(on);
  }
}

void ControlPanel::ShowAmplification() {
  CFrameProcessor* p = Processor();
  ShowRow(kRowAmp, p ? p->Settings().nAmp.load() : kAmpDefault);
}

void ControlPanel::ShowAccumulator() {
  CFrameProcessor* p = Processor();
  ShowRow(kRowAccum, p ? p->Settings().nCountAccum.load() : kCountDefault);
}

void ControlPanel::OnDelayBoxEdited(const QString& text) {
  CFrameProcessor* p = Processor();
  if (!p) return;
  bDelayTyping_ = true;
  if (text.isEmpty()) return;
  uint32_t ms = 0;
  const QByteArray bytes = text.left(100).toLatin1();
  if (!ParseTimeText(bytes.constData(), ms)) return;
  if (ms > kTimeDelayMaxMs) ms = kTimeDelayMaxMs;
  if (p->SetTimeDelay(ms)) SyncDelay(true);
}

void ControlPanel::OnDelayBoxLeft() {
  bDelayTyping_ = false;
  if (!delayBox_ || delayBox_->text().isEmpty()) return;
  CFrameProcessor* p = Processor();
  // What was typed has been applied already (or was no time): the box now shows the delay in force,
  // in its usual form.
  SetDelayBoxText(p ? p->Settings().nTimeDelay.load() : 0);
}

}  // namespace ulmora
