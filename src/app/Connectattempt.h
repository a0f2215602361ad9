// TConnectAttempt: one connection attempt on a worker thread, so that the GUI thread never waits on
// the network or a serial line. The connection's own calls to the main thread are held by its gate
// until the attempt is over; the outcome reaches the GUI thread through its dispatcher.
#pragma once

#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "app/Maininstr.h"

class CMainDispatcher;

class TConnectAttempt {
 public:
  // Starts Connect(link, address) at once; finished runs on the GUI thread (through gui) when it ends.
  TConnectAttempt(std::unique_ptr<CMyZematInstr> connection, int link, const QString& address, CMainDispatcher& gui,
                  std::function<void()> finished);
  // Cancels the attempt if it still runs and waits for the worker.
  ~TConnectAttempt();
  TConnectAttempt(const TConnectAttempt&) = delete;
  TConnectAttempt& operator=(const TConnectAttempt&) = delete;

  // Makes the attempt give up soon; it then ends as failed.
  void Cancel();
  bool Cancelled() const { return m_cancelled.load(); }
  // After finished: the connected session, or null when the attempt failed or was cancelled.
  std::unique_ptr<CMyZematInstr> TakeConnection();

 private:
  std::unique_ptr<CMyZematInstr> m_connection;
  std::atomic<bool> m_cancelled{false};
  bool m_succeeded = false;  // written by the worker before it reports, read after the join
  std::thread m_worker;
};
