// The control panel: the toolbar across the top and the seven rows that show and change the
// processing parameters of the active graph object's processor.
#pragma once

#include <QFont>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>

#include "gui/panel_rows.h"
#include "gui/panel_view.h"

class QLabel;
class QLineEdit;
class QSlider;
class QToolBar;
class QToolButton;

namespace ulmora {

class CFrameProcessor;

class ControlPanel : public QWidget, public IPanelView {
 public:
  explicit ControlPanel(QWidget* parent = nullptr);

  // Places the toolbar across the top of the panel and serves its delay box.
  void SetToolbar(QToolBar* toolbar);
  QToolBar* Toolbar() const { return toolbar_; }
  // The active graph object's processor; null when there is none (the rows then show defaults).
  void SetProcessor(CFrameProcessor* processor) { proc_ = processor; }
  // Or asked each time: the main window chooses its active graph object after building the panel.
  void SetProcessorSource(std::function<CFrameProcessor*()> source) { source_ = std::move(source); }
  CFrameProcessor* Processor() const { return source_ ? source_() : proc_; }

  // Every row's trackbar and value box, and the delay box, from the processor.
  void SyncAllRows() override;
  // The delay box and the Delay value box from the processor; the trackbar too when asked.
  void SyncDelay(bool withTrackbar);
  // The NRH and NRV rows are usable only while their banding removal is switched on.
  void EnableNoiseRows() override;
  // The automatic control changed a value: the row follows the processor.
  void ShowAmplification() override;
  void ShowAccumulator() override;
  void ShowDelay() override { SyncDelay(true); }
  // What a row's reset button does (resetId one of the seven reset ids).
  void ResetRow(int resetId);
  // Tooltip of a trackbar (its row's formatter at its position, empty for rows without one) or of a
  // toolbar button (its string).
  QString TooltipText(int id) const;

  QLabel* Label(int row) const { return rows_[row].label; }
  QToolButton* ResetButton(int row) const { return rows_[row].reset; }
  QSlider* Trackbar(int row) const { return rows_[row].track; }
  QLineEdit* ValueBox(int row) const { return rows_[row].value; }
  QLineEdit* DelayBox() const { return delayBox_; }
  // Width of the widest label in the font the rows use.
  int LabelWidth() const { return labelWidth_; }
  // The font of the rows, also the status bar's.
  const QFont& RowFont() const { return rowFont_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct Row {
    QLabel* label = nullptr;
    QToolButton* reset = nullptr;
    QSlider* track = nullptr;
    QLineEdit* value = nullptr;
  };

  void ChooseRowFont();
  void BuildRows();
  void PlaceRows();
  void OnTrackbarMoved(int row, int position);
  void OnDelayBoxEdited(const QString& text);
  void OnDelayBoxLeft();  // leaving the box or pressing Enter ends the typing
  void SetTrack(int row, int position);  // without acting on the processor
  void SetValue(int row, const std::string& text);
  void ShowRow(int row, int position);  // trackbar and value box, by the row's own value text
  void SetDelayBoxText(uint32_t ms);

  Row rows_[kPanelRowCount];
  QToolBar* toolbar_ = nullptr;
  QLineEdit* delayBox_ = nullptr;
  CFrameProcessor* proc_ = nullptr;
  std::function<CFrameProcessor*()> source_;
  QFont rowFont_;
  int labelWidth_ = 0;
  int toolbarHeight_ = 26;
  bool bDelayTyping_ = false;  // the delay box holds what is being typed, not yet the formatted time
};

}  // namespace ulmora
