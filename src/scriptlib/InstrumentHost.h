// IInstrumentHost: what the instrument bindings ask of the program that runs the scripts (the main
// window, or the command-line client). Every call comes on the host's main thread, through the run's
// main-thread call.
#pragma once

#include <functional>
#include <memory>
#include <string>

class CCuDesc;
class CZematInstr;

class IInstrumentHost {
 public:
  virtual ~IInstrumentHost() = default;
  // The current connection and how it was reached: link 0 for the LAN (address), 1..4 for COMn.
  virtual CZematInstr* Connection() = 0;
  virtual void LinkAndAddress(int& link, std::string& address) = 0;
  // Connects unless connected; done gets the connection (null on failure), possibly later, on the
  // main thread. The host must not wait for the network on its main thread meanwhile.
  virtual void Connect(int link, const std::string& address, std::function<void(CZematInstr*)> done) = 0;
  virtual void Disconnect() = 0;
  // The CU window that fits the CU (a host without windows says so once).
  virtual void OpenCuWindow(std::shared_ptr<CCuDesc> cu) = 0;
  virtual void LoadWindowLayout(int n) = 0;
  // Runs the command line in a new script window (or on a thread of its own, headless).
  virtual void StartScript(const std::string& commandLine, int closeWhenFinished) = 0;
};
