// What the plot bindings ask of plot windows and of the program that shows them. The script side is
// GUI-free (the command-line client registers the same names without a display); a GUI program
// installs a plot host, and its plot windows implement IPlotWindow. Every call on a window or a
// signal comes on the host's main thread, where windows are created and closed.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// A new number for every signal of the run.
uint64_t NextPlotSignalId();

class IPlotSignal {
 public:
  virtual ~IPlotSignal() = default;
  // Never reused: a script's reference to a removed signal cannot match a new one that happens to get
  // the same address.
  uint64_t Id() const { return m_id; }
  virtual std::string GetTitle() const = 0;
  virtual void SetTitle(const std::string& text) = 0;
  virtual std::string GetXUnit() const = 0;
  virtual void SetXUnit(const std::string& text) = 0;
  virtual std::string GetYUnit() const = 0;
  virtual void SetYUnit(const std::string& text) = 0;
  virtual int GetLineStyle() const = 0;
  virtual int GetMarker() const = 0;
  // false: a value outside the tables, nothing changed.
  virtual bool SetLineStyle(int n) = 0;
  virtual bool SetMarker(int n) = 0;
  // count 0 replaces the data by none; appending none changes nothing.
  virtual void SetData(long count, const double* x, const double* y) = 0;
  virtual void AddData(long count, const double* x, const double* y) = 0;

 private:
  const uint64_t m_id = NextPlotSignalId();
};

class IPlotWindow {
 public:
  virtual ~IPlotWindow() = default;
  // The signal of that name, made (and the window rebuilt) when new; the window owns it.
  virtual IPlotSignal* AddSignal(const std::string& name) = 0;
  virtual void RemoveAllSignals() = 0;
  // Whether the signal still belongs to this window.
  virtual bool HasSignal(const IPlotSignal* signal) const = 0;
  virtual int WindowMode() const = 0;
  virtual void SetWindowMode(int mode) = 0;
  virtual int ScaleMode() const = 0;
  virtual void SetScaleMode(int mode) = 0;
  virtual int ShowGrid() const = 0;
  virtual void SetShowGrid(int show) = 0;
  // Closes the window (it leaves the registry itself).
  virtual void CloseWindow() = 0;
};

class IPlotHost {
 public:
  virtual ~IPlotHost() = default;
  // A new plot window of that name, shown; null when none can be made.
  virtual IPlotWindow* CreatePlotWindow(const std::string& name) = 0;
};

// The program's plot host (none: no display, plot windows are refused). Set and read on the main thread.
void SetPlotHost(IPlotHost* host);
IPlotHost* PlotHost();

// The process-wide plot window registry: unique names, each with a serial number that is never reused,
// so that a script's reference to a closed window is told from a new window of the same name.
class CPlotRegistry {
 public:
  static CPlotRegistry& Instance();
  // The serial number given to the window (0 when the name is taken).
  uint64_t Add(const std::string& name, IPlotWindow* window);
  void Remove(const IPlotWindow* window);
  IPlotWindow* Find(const std::string& name, uint64_t* serial = nullptr);
  IPlotWindow* FindSerial(uint64_t serial);
  std::vector<std::string> Names();
  void Clear();

 private:
  struct TEntry {
    std::string name;
    IPlotWindow* window;
    uint64_t serial;
  };
  std::mutex m_lock;
  std::vector<TEntry> m_entries;
  uint64_t m_next = 1;
};
