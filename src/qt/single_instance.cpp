#include "qt/single_instance.h"

#include <unistd.h>

#include <QLocalSocket>
#include <QtEndian>

namespace {

constexpr uint32_t kListOffset = 20;
constexpr int kTimeoutMs = 2000;
// No record holds more than a few names of at most a few KB.
constexpr qint64 kMaxRecord = 1 << 20;

} // namespace

QByteArray DropFilesRecord(const std::vector<std::string>& names) {
  QByteArray record(kListOffset, '\0');
  qToLittleEndian<uint32_t>(kListOffset, record.data());
  for (const std::string& name : names) {
    record.append(name.data(), static_cast<qsizetype>(name.size()));
    record.append('\0');
  }
  record.append('\0');
  return record;
}

std::vector<std::string> NamesOfDropFilesRecord(const QByteArray& record) {
  std::vector<std::string> names;
  if (record.size() < static_cast<qsizetype>(kListOffset) + 1) return names;
  const uint32_t offset = qFromLittleEndian<uint32_t>(record.constData());
  if (offset < 4 || offset >= static_cast<uint32_t>(record.size())) return names;
  qsizetype at = offset;
  while (at < record.size() && record[at] != '\0') {
    const qsizetype end = record.indexOf('\0', at);
    if (end < 0) return {}; // a list without its end is no record
    names.emplace_back(record.constData() + at, static_cast<size_t>(end - at));
    at = end + 1;
  }
  return names;
}

QString InstanceSocketName(const char* windowClass) {
  return QStringLiteral("%1-%2").arg(QString::fromLatin1(windowClass)).arg(::getuid());
}

bool InstanceRunning(const QString& socketName) {
  QLocalSocket socket;
  socket.connectToServer(socketName);
  return socket.waitForConnected(kTimeoutMs);
}

bool HandOverToRunningInstance(const QString& socketName, const std::string& name) {
  QLocalSocket socket;
  socket.connectToServer(socketName);
  if (!socket.waitForConnected(kTimeoutMs)) return false;
  socket.write(DropFilesRecord({name}));
  if (!socket.waitForBytesWritten(kTimeoutMs)) return false;
  socket.disconnectFromServer();
  return socket.state() == QLocalSocket::UnconnectedState || socket.waitForDisconnected(kTimeoutMs);
}

TInstanceServer::TInstanceServer(const QString& socketName, std::function<void(const std::string&)> onName)
    : m_onName(std::move(onName)) {
  m_server.setSocketOptions(QLocalServer::UserAccessOption);
  // A socket left by a viewer that crashed would keep every later viewer
  // from listening; no viewer answers on it (checked before), so it goes.
  if (!m_server.listen(socketName)) {
    QLocalServer::removeServer(socketName);
    m_server.listen(socketName);
  }
  connect(&m_server, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
      auto record = std::make_shared<QByteArray>();
      connect(socket, &QLocalSocket::readyRead, socket, [socket, record] {
        record->append(socket->readAll());
        if (record->size() > kMaxRecord) socket->abort();
      });
      connect(socket, &QLocalSocket::disconnected, this, [this, socket, record] {
        record->append(socket->readAll());
        socket->deleteLater();
        for (const std::string& name : NamesOfDropFilesRecord(*record)) m_onName(name);
      });
    }
  });
}
