#pragma once
// One viewer per user: a second start with a single file name hands the name
// to the running viewer through a local socket and ends. The message is the
// drop-files record the window receives for dropped files: the 32-bit offset
// 20 of the name list, then at that offset each name ending in a zero byte
// and a second zero byte ending the list.
//
// The socket is a Unix socket in the temporary folder ($TMPDIR), named after
// the window class and the user, readable and writable by the user only.
#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;

// The record for a list of names, and the names in a record (empty when it
// is not one).
QByteArray DropFilesRecord(const std::vector<std::string>& names);
std::vector<std::string> NamesOfDropFilesRecord(const QByteArray& record);

// The socket name of a window class for this user.
QString InstanceSocketName(const char* windowClass);

// Sends the name to a running instance; false when none answers.
bool HandOverToRunningInstance(const QString& socketName, const std::string& name);
// True when an instance listens on the socket name.
bool InstanceRunning(const QString& socketName);

// Listens for hand-overs and gives each name received to onName.
class TInstanceServer : public QObject {
public:
  TInstanceServer(const QString& socketName, std::function<void(const std::string&)> onName);
  ~TInstanceServer() override;

private:
  struct TConnection {
    std::unique_ptr<QSocketNotifier> notifier;
    QByteArray record;
  };
  void Accept();
  void Receive(int descriptor);

  std::string m_path;
  int m_listener = -1;
  std::unique_ptr<QSocketNotifier> m_notifier;
  std::map<int, TConnection> m_connections;
  std::function<void(const std::string&)> m_onName;
};
