// What the main window asks of the control panel (its rows and the toolbar's delay box).
#pragma once

namespace ulmora {

class IPanelView {
 public:
  virtual ~IPanelView() = default;
  // Every row's trackbar and value box from the active processor (after start-up and "Default").
  virtual void SyncAllRows() = 0;
  // The automatic control changed a value (MsgAmpChanged, MsgCountChanged, MsgDelayChanged).
  virtual void ShowAmplification() = 0;
  virtual void ShowAccumulator() = 0;
  virtual void ShowDelay() = 0;
  // The NRH and NRV rows follow the processor's switches.
  virtual void EnableNoiseRows() = 0;
};

}  // namespace ulmora
