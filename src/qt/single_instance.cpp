#include "qt/single_instance.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QSocketNotifier>
#include <QtEndian>
#include <cerrno>
#include <cstring>

namespace {

constexpr uint32_t kListOffset = 20;
// No record holds more than a few names of at most a few KB.
constexpr qsizetype kMaxRecord = 1 << 20;

std::string SocketPath(const QString& socketName) {
  return (QDir::tempPath() + QLatin1Char('/') + socketName).toStdString();
}

// The address of a socket path; false when the path is too long for one.
bool AddressOf(const std::string& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// A socket connected to the instance listening on path, or -1.
int Connect(const std::string& path) {
  sockaddr_un address;
  if (!AddressOf(path, address)) return -1;
  const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (descriptor < 0) return -1;
  if (::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(descriptor);
    return -1;
  }
  return descriptor;
}

bool WriteAll(int descriptor, const QByteArray& bytes) {
  qsizetype done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(descriptor, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += written;
  }
  return true;
}

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
  const int descriptor = Connect(SocketPath(socketName));
  if (descriptor < 0) return false;
  ::close(descriptor);
  return true;
}

bool HandOverToRunningInstance(const QString& socketName, const std::string& name) {
  const int descriptor = Connect(SocketPath(socketName));
  if (descriptor < 0) return false;
  const bool sent = WriteAll(descriptor, DropFilesRecord({name}));
  ::close(descriptor);
  return sent;
}

TInstanceServer::TInstanceServer(const QString& socketName, std::function<void(const std::string&)> onName)
    : m_path(SocketPath(socketName)), m_onName(std::move(onName)) {
  sockaddr_un address;
  if (!AddressOf(m_path, address)) return;
  // A socket left by a viewer that crashed would keep every later viewer
  // from listening; no viewer answers on it (checked before), so it goes.
  if (!InstanceRunning(socketName)) ::unlink(m_path.c_str());
  m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (m_listener < 0) return;
  const mode_t previous = ::umask(0077);
  const bool bound = ::bind(m_listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::umask(previous);
  if (!bound || ::listen(m_listener, 8) != 0) {
    ::close(m_listener);
    m_listener = -1;
    return;
  }
  m_notifier = std::make_unique<QSocketNotifier>(m_listener, QSocketNotifier::Read);
  connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { Accept(); });
}

TInstanceServer::~TInstanceServer() {
  m_notifier.reset();
  for (auto& [descriptor, connection] : m_connections) {
    connection.notifier.reset();
    ::close(descriptor);
  }
  if (m_listener >= 0) {
    ::close(m_listener);
    ::unlink(m_path.c_str());
  }
}

void TInstanceServer::Accept() {
  for (;;) {
    const int descriptor = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (descriptor < 0) return;
    TConnection& connection = m_connections[descriptor];
    connection.notifier = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Read);
    connect(connection.notifier.get(), &QSocketNotifier::activated, this, [this, descriptor] { Receive(descriptor); });
  }
}

// A record is whole when its sender closes the connection.
void TInstanceServer::Receive(int descriptor) {
  TConnection& connection = m_connections[descriptor];
  char buffer[4096];
  ssize_t got;
  while ((got = ::read(descriptor, buffer, sizeof buffer)) > 0 && connection.record.size() <= kMaxRecord)
    connection.record.append(buffer, got);
  if (got < 0 && (errno == EAGAIN || errno == EINTR) && connection.record.size() <= kMaxRecord) return;
  const QByteArray record = got == 0 ? connection.record : QByteArray();
  connection.notifier.reset();
  ::close(descriptor);
  m_connections.erase(descriptor);
  for (const std::string& name : NamesOfDropFilesRecord(record)) m_onName(name);
}
