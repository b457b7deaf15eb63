// DeviceReconnect: a live device that vanishes while the program uses it stops the live graph with one
// plain notice that holds nothing up (the pictures and a capture run's finished files stay), and when
// the same device, by its stable identity, comes back, the graph is built again and put back into the
// state it had, with nobody at the screen: the notice closes and an interrupted capture run goes on
// with its numbering. A running graph that delivers no frame for too long is rebuilt the same way.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "graph/stall_watch.h"

class QTimer;

namespace ulmora {

class CDeviceList;
class CGraphObject;
class MainWindow;

class DeviceReconnect {
 public:
  // rebuilt runs after the graph was built again for the returning device.
  DeviceReconnect(MainWindow* window, CGraphObject* liveGraph, CDeviceList* devices, std::function<void()> rebuilt);
  ~DeviceReconnect();

  // kMsgGraphNotify of the live graph: handles the graph's event; a failure of the live device is
  // remembered with the state the graph had.
  void OnGraphNotify();
  // A device arrived or went: the current device missing from the list is lost; a lost one that is
  // listed again is taken back.
  void OnDeviceChange();
  // Once a second: a running live graph that has gone quiet is rebuilt, or lost when its device went.
  void CheckStall(int64_t nowMs);

  // Another device was chosen: the lost one is no longer waited for.
  void Forget();
  bool Lost() const { return bLost_; }
  const std::string& LostIdentity() const { return lostId_; }
  // The graph state to return to (kRunStopped/kRunPaused/kRunRunning).
  int32_t LostState() const { return nLostState_; }
  // Times the device went and came back, and stalls the watch found.
  uint32_t Reconnects() const { return nReconnects_; }
  uint32_t Stalls() const { return watch_.Stalls(); }

 private:
  void MarkLost(int32_t state, bool capturing);
  // The device is gone while the graph may still run: stop it as a failure would and tell.
  void LoseDevice();
  void TakeBack();
  // The same device's graph again, in state; false when it could not be built.
  bool Rebuild(int32_t state, bool capturing);
  void RunDeferredChange();

  MainWindow* window_ = nullptr;
  CGraphObject* live_ = nullptr;
  CDeviceList* devices_ = nullptr;
  std::function<void()> rebuilt_;
  bool bLost_ = false;
  std::string lostId_;
  std::string lostName_;
  int32_t nLostState_ = 0;
  bool bLostCapture_ = false;  // a capture run was going when the device went
  int64_t nLostAtMs_ = 0;
  uint32_t nReconnects_ = 0;
  bool bHandling_ = false;        // inside a stop that may show a message box
  bool bDeferredChange_ = false;  // a device change came meanwhile
  CStallWatch watch_;
  std::unique_ptr<QTimer> stallTimer_;
};

}  // namespace ulmora
