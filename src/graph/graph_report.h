// How the graph code reaches the person: message boxes and status-bar texts go through a small
// interface that the GUI (or a command-line tool) fills in; every report also goes to the log.
#pragma once

namespace ulmora {

class IGraphUi {
 public:
  virtual ~IGraphUi() = default;
  // A modal box; caption "Warning..." or "Error [DEBUG]".
  virtual void ShowBox(const char* text, const char* caption) = 0;
  // A notice that must not wait for anyone (a live device failed; nobody may be at the screen); the
  // same box as ShowBox where the front end has no other.
  virtual void ShowNotice(const char* text, const char* caption) { ShowBox(text, caption); }
  // Status bar field 0 (source name) or 1 (state text).
  virtual void SetStatus(int field, const char* text) = 0;
};

// Null: no boxes and no status bar, the log only.
void SetGraphUi(IGraphUi* ui);
IGraphUi* GraphUi();

// Box "Warning..." in both configurations, status field 1, log.
void GraphWarning(const char* text);
// Notice "Warning..." that does not block, status field 1, log.
void GraphNotice(const char* text);
// Box "Error [DEBUG]" in the debug configuration only, status field 1, log.
void GraphError(const char* text);
// Status field only.
void GraphStatus(int field, const char* text);

}  // namespace ulmora
