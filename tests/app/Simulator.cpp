// TSimulator: the simulator as a child process; its port lines and command replies come on stdout.
#include "Simulator.h"

#include <QElapsedTimer>
#include <fstream>

TSimulator::TSimulator(const std::filesystem::path& folder, const std::string& configJson)
{
    QStringList args{"--telnet-port", "0", "--data-port", "0", "--control-port", "0", "--quiet"};
    if (!configJson.empty()) {
        const std::filesystem::path config = folder / "sim.json";
        std::ofstream(config) << configJson;
        args << "--config" << QString::fromStdString(config.string());
    }
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(MORVENT_SIM, args);
    if (!m_process.waitForStarted(10000)) return;
    for (;;) {
        const QString line = ReadLine(10000);
        if (line.isEmpty()) return;
        const QStringList parts = line.split(' ');
        if (parts.size() != 2) continue;
        if (parts[0] == "telnet-port") m_telnetPort = parts[1].toInt();
        else if (parts[0] == "data-port") m_dataPort = parts[1].toInt();
        else if (parts[0] == "control-port") break;
    }
}

TSimulator::~TSimulator()
{
    if (m_process.state() == QProcess::NotRunning) return;
    m_process.write("quit\n");
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString TSimulator::ReadLine(int limitMs)
{
    QElapsedTimer t;
    t.start();
    while (!m_process.canReadLine()) {
        if (t.elapsed() > limitMs || m_process.state() == QProcess::NotRunning) return QString();
        m_process.waitForReadyRead(100);
    }
    return QString::fromUtf8(m_process.readLine()).trimmed();
}

QString TSimulator::Command(const QString& line)
{
    m_process.write((line + "\n").toUtf8());
    m_process.waitForBytesWritten(5000);
    return ReadLine(10000);
}
