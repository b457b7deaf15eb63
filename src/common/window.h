// The window interface the frame path and the processor post to; the GUI implements it.
#pragma once

namespace ulmora {

// Messages posted with no arguments; the receiver reads current values when it handles one.
enum WindowMessage : unsigned {
  kMsgRepaint = 0x8002,
  kMsgGraphNotify = 0x8003,
  kMsgAmpChanged = 0x8004,
  kMsgCountChanged = 0x8005,
  kMsgDelayChanged = 0x8006,
  kMsgCaptureEnded = 0x8007,
  kMsgCaptureProgress = 0x8008,
};

class IWindow {
 public:
  virtual ~IWindow() = default;
  // Queues msg for the window's thread; safe from any thread, never waits.
  virtual void PostMsg(unsigned msg) = 0;
  // True while a posted repaint has not been handled yet; any thread. The frame path copies a picture
  // for the window only when it will post a repaint.
  virtual bool RepaintPending() const { return false; }
  // False for a window that counts repaints but draws nothing: the frame path then copies no picture.
  virtual bool DrawsPictures() const { return true; }
  // GUI thread only.
  virtual void GetClientSize(int& width, int& height) = 0;
  virtual void Invalidate(bool erase) = 0;
};

}  // namespace ulmora
