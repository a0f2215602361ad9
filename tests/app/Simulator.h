// TSimulator: runs tools/zemat-sim on ports it picks, reads them back and sends it control commands.
#pragma once

#include <QProcess>
#include <QString>
#include <filesystem>
#include <string>

class TSimulator {
public:
    // configJson empty: the demo instrument.
    explicit TSimulator(const std::filesystem::path& folder, const std::string& configJson = std::string());
    ~TSimulator();
    bool Started() const { return m_dataPort > 0; }
    int TelnetPort() const { return m_telnetPort; }
    int DataPort() const { return m_dataPort; }
    // One control command; returns its reply line ("ok ...", "error: ...").
    QString Command(const QString& line);

private:
    QString ReadLine(int limitMs);
    QProcess m_process;
    int m_telnetPort = 0;
    int m_dataPort = 0;
};
