// A second start hands its file to the running program over a local socket beside the lock file; the
// lock alone says whether a program runs, the socket only carries the request.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <string>

class QLocalServer;
class QLocalSocket;

namespace ulmora {

// The lock file's path with ".socket" added.
QString InstanceSocketPath(const std::string& directory);

// The running program's end: answers each request at once and hands it on from the event loop.
class InstanceServer : public QObject {
 public:
  // file: the file to open (absolute), or empty to only come to the front.
  using Handler = std::function<void(const QString& file)>;

  explicit InstanceServer(QObject* parent = nullptr);
  ~InstanceServer() override;

  // Only while holding the lock: a socket file left there is a crashed run's and is removed first.
  bool Listen(const std::string& directory);
  // Requests that came before a handler was set wait for it (the latest file wins).
  void SetHandler(Handler handler);
  // Before the lock is released, so the socket file removed is surely ours.
  void Close();
  QString Error() const { return error_; }

 private:
  void OnConnection();
  void OnReadable(QLocalSocket* socket);
  void Queue(bool open, const QString& file);
  void DeliverPending();

  QLocalServer* server_ = nullptr;
  Handler handler_;
  bool pending_ = false;
  bool delivering_ = false;
  QString pendingFile_;
  QString error_;
};

// The second start's end: asks the running program to come to the front and open file (absolute, or
// empty for none). True once the program confirmed; else error says why. Needs a QCoreApplication.
bool HandOverToRunningInstance(const std::string& directory, const QString& file, QString* error);

}  // namespace ulmora
