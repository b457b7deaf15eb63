#include "gui/instance_handover.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include "common/log.h"
#include "gui/single_instance.h"

namespace ulmora {
namespace {

// A request is "raise\0" or "open\0PATH\0": NUL cannot occur in a path, so any file name goes through
// byte for byte. The answer is "ok\n".
constexpr char kRaise[] = "raise";
constexpr char kOpen[] = "open";
constexpr qsizetype kMaxRequestBytes = 8192;
// A client that connects and then says nothing must not hold a socket for ever.
constexpr int kRequestTimeoutMs = 3000;
// The running program listens moments after taking the lock; a start in that gap retries this long.
constexpr int kConnectBudgetMs = 1500;
// It answers from its event loop, which may still be busy opening its first file.
constexpr int kAnswerBudgetMs = 10000;

}  // namespace

QString InstanceSocketPath(const std::string& directory) {
  return QFile::decodeName(QByteArray::fromStdString(directory + "/" + kInstanceLockName + ".socket"));
}

InstanceServer::InstanceServer(QObject* parent) : QObject(parent), server_(new QLocalServer(this)) {
  // Only this user may hand over files (the runtime directory is private already; this holds elsewhere).
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  connect(server_, &QLocalServer::newConnection, this, &InstanceServer::OnConnection);
}

InstanceServer::~InstanceServer() { Close(); }

bool InstanceServer::Listen(const std::string& directory) {
  const QString path = InstanceSocketPath(directory);
  QLocalServer::removeServer(path);
  if (server_->listen(path)) return true;
  error_ = QStringLiteral("%1: %2").arg(path, server_->errorString());
  return false;
}

void InstanceServer::SetHandler(Handler handler) {
  handler_ = std::move(handler);
  if (handler_ && pending_) QTimer::singleShot(0, this, &InstanceServer::DeliverPending);
}

void InstanceServer::Close() {
  handler_ = {};
  if (server_->isListening()) server_->close();
}

void InstanceServer::OnConnection() {
  while (QLocalSocket* s = server_->nextPendingConnection()) {
    connect(s, &QLocalSocket::readyRead, this, [this, s] { OnReadable(s); });
    connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
    QTimer::singleShot(kRequestTimeoutMs, s, [s] {
      LogPrintf("second start: no complete request within %d ms, connection dropped", kRequestTimeoutMs);
      s->abort();
      s->deleteLater();
    });
    if (s->bytesAvailable() > 0) OnReadable(s);
  }
}

void InstanceServer::OnReadable(QLocalSocket* s) {
  // The request stays in the socket's buffer until it is whole.
  const QByteArray data = s->peek(kMaxRequestBytes + 1);
  const auto drop = [s](const char* why) {
    LogPrintf("second start: request refused (%s)", why);
    s->abort();
    s->deleteLater();
  };
  const qsizetype verbEnd = data.indexOf('\0');
  if (verbEnd < 0) {
    if (data.size() > qsizetype(sizeof kRaise)) drop("not a request");
    return;
  }
  const QByteArray verb = data.left(verbEnd);
  bool open = false;
  QString file;
  if (verb == kRaise) {
    open = false;
  } else if (verb == kOpen) {
    const qsizetype pathEnd = data.indexOf('\0', verbEnd + 1);
    if (pathEnd < 0) {
      if (data.size() > kMaxRequestBytes) drop("file name too long");
      return;
    }
    open = pathEnd > verbEnd + 1;
    file = QFile::decodeName(data.mid(verbEnd + 1, pathEnd - verbEnd - 1));
  } else {
    return drop("not a request");
  }
  s->readAll();
  s->write("ok\n");
  s->flush();
  s->disconnectFromServer();
  Queue(open, file);
}

void InstanceServer::Queue(bool open, const QString& file) {
  // A raise must not cancel a file still waiting; a newer file replaces an older one.
  if (open || !pending_) pendingFile_ = open ? file : QString();
  pending_ = true;
  // Never from inside the socket's signal, and never nested: opening a file may run a message box, whose
  // event loop can bring the next request.
  if (handler_ && !delivering_) QTimer::singleShot(0, this, &InstanceServer::DeliverPending);
}

void InstanceServer::DeliverPending() {
  if (delivering_) return;
  delivering_ = true;
  while (pending_ && handler_) {
    const QString file = pendingFile_;
    pending_ = false;
    pendingFile_.clear();
    handler_(file);
  }
  delivering_ = false;
}

bool HandOverToRunningInstance(const std::string& directory, const QString& file, QString* error) {
  const QString path = InstanceSocketPath(directory);
  QLocalSocket s;
  QElapsedTimer t;
  t.start();
  for (;;) {
    s.connectToServer(path);
    if (s.waitForConnected(kConnectBudgetMs)) break;
    if (t.elapsed() >= kConnectBudgetMs) {
      if (error) *error = s.errorString();
      return false;
    }
    QThread::msleep(100);
  }
  QByteArray request(file.isEmpty() ? kRaise : kOpen);
  request.append('\0');
  if (!file.isEmpty()) request.append(QFile::encodeName(file)).append('\0');
  s.write(request);
  s.waitForBytesWritten(kConnectBudgetMs);
  QByteArray answer;
  t.restart();
  while (!answer.contains('\n') && t.elapsed() < kAnswerBudgetMs) {
    const int leftMs = static_cast<int>(qMax<qint64>(1, kAnswerBudgetMs - t.elapsed()));
    if (!s.waitForReadyRead(leftMs) && s.bytesAvailable() == 0) break;
    answer += s.readAll();
  }
  if (answer == "ok\n") return true;
  if (error) {
    *error = answer.isEmpty() ? QStringLiteral("the running program did not answer (%1)").arg(s.errorString())
                              : QStringLiteral("the running program answered '%1'").arg(QString::fromUtf8(answer.trimmed()));
  }
  return false;
}

}  // namespace ulmora
