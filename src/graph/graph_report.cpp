#include "graph/graph_report.h"

#include <atomic>

#include "common/log.h"
#include "common/report.h"

namespace ulmora {
namespace {
std::atomic<IGraphUi*> g_ui{nullptr};
}

void SetGraphUi(IGraphUi* ui) { g_ui.store(ui); }
IGraphUi* GraphUi() { return g_ui.load(); }

void GraphWarning(const char* text) {
  if (IGraphUi* ui = g_ui.load()) {
    ui->ShowBox(text, "Warning...");
    ui->SetStatus(1, text);
  }
  LogPrintf("%s", text);
}

void GraphNotice(const char* text) {
  if (IGraphUi* ui = g_ui.load()) {
    ui->ShowNotice(text, "Warning...");
    ui->SetStatus(1, text);
  }
  LogPrintf("%s", text);
}

void GraphError(const char* text) {
  if (IGraphUi* ui = g_ui.load()) {
    if (kDebugBuild) ui->ShowBox(text, "Error [DEBUG]");
    ui->SetStatus(1, text);
  }
  LogPrintf("%s", text);
}

void GraphStatus(int field, const char* text) {
  if (IGraphUi* ui = g_ui.load()) ui->SetStatus(field, text);
}

}  // namespace ulmora
