// TConnectAttempt: the worker runs the blocking Connect; a cancel reaches it through the session.
#include "app/Connectattempt.h"

#include "StandardApp/Mainthread.h"

TConnectAttempt::TConnectAttempt(std::unique_ptr<CMyZematInstr> connection, int link, const QString& address,
                                 CMainDispatcher& gui, std::function<void()> finished)
    : m_connection(std::move(connection)) {
  m_worker = std::thread([this, link, host = address.toLatin1().toStdString(), &gui, finished = std::move(finished)] {
    m_succeeded = m_connection->Connect(link, host.c_str());
    // A failed Connect has stopped its threads; a session connected just as the user cancelled is
    // let go of here, off the GUI thread.
    if (!m_succeeded || m_cancelled.load()) {
      m_connection->Disconnect();
      m_succeeded = false;
    }
    gui.Post(finished);
  });
}

TConnectAttempt::~TConnectAttempt() {
  Cancel();
  if (m_worker.joinable()) m_worker.join();
}

void TConnectAttempt::Cancel() {
  if (m_cancelled.exchange(true) || !m_connection) return;
  m_connection->CancelConnect();
}

std::unique_ptr<CMyZematInstr> TConnectAttempt::TakeConnection() {
  if (m_worker.joinable()) m_worker.join();
  if (!m_succeeded || m_cancelled.load()) return nullptr;
  return std::move(m_connection);
}
