// DeviceReconnect: a live device that vanishes while the program uses it stops the live graph with one
// plain message (the pictures and a capture run's finished files stay), and when the same device, by
// its stable identity, comes back, the graph is built again and put back into the state it had.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace ulmora {

class CDeviceList;
class CGraphObject;
class MainWindow;

class DeviceReconnect {
 public:
  // rebuilt runs after the graph was built again for the returning device.
  DeviceReconnect(MainWindow* window, CGraphObject* liveGraph, CDeviceList* devices, std::function<void()> rebuilt);

  // kMsgGraphNotify of the live graph: handles the graph's event; a failure of the live device is
  // remembered with the state the graph had.
  void OnGraphNotify();
  // A device arrived or went: the current device missing from the list is lost; a lost one that is
  // listed again is taken back.
  void OnDeviceChange();

  // Another device was chosen: the lost one is no longer waited for.
  void Forget();
  bool Lost() const { return bLost_; }
  const std::string& LostIdentity() const { return lostId_; }
  // The graph state to return to (kRunStopped/kRunPaused/kRunRunning).
  int32_t LostState() const { return nLostState_; }

 private:
  void MarkLost(int32_t state);
  void TakeBack();
  void RunDeferredChange();

  MainWindow* window_ = nullptr;
  CGraphObject* live_ = nullptr;
  CDeviceList* devices_ = nullptr;
  std::function<void()> rebuilt_;
  bool bLost_ = false;
  std::string lostId_;
  std::string lostName_;
  int32_t nLostState_ = 0;
  bool bHandling_ = false;        // inside a stop that may show a message box
  bool bDeferredChange_ = false;  // a device change came meanwhile
};

}  // namespace ulmora
