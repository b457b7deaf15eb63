// The program's --status-file: the station status of the live graph rewritten once a second, as
// ulmora-batch writes it, so one monitoring script serves both.
#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <string>

#include "graph/station_status.h"

namespace ulmora {

class CGraphObject;
class DeviceReconnect;

class StatusFileTicker : public QObject {
 public:
  // The path was checked (CStatusFile::CheckPath) before the window came up.
  StatusFileTicker(const std::string& path, CGraphObject* liveGraph, const DeviceReconnect* reconnect);
  // Writes the file now (the timer does it once a second).
  void WriteNow();

 private:
  CStatusFile file_;
  CGraphObject* live_ = nullptr;
  const DeviceReconnect* reconnect_ = nullptr;
  StationCounters earlier_, last_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  QTimer timer_;
};

}  // namespace ulmora
