#pragma once

#include <QProcess>
#include <QString>

namespace vortan
{

// vortan-sim from the program's own folder, cycling alarms and warnings so every indicator
// colour shows, on a pseudo-terminal the program uses as its port for one run. It is stopped
// (SIGTERM) when this object goes, and ends with the program even if the program is killed.
class DemoSimulator
{
public:
    static constexpr int StartTimeoutMs = 5000;

    DemoSimulator() = default;
    ~DemoSimulator();
    DemoSimulator(const DemoSimulator &) = delete;
    DemoSimulator &operator=(const DemoSimulator &) = delete;

    // The device the simulator serves, or empty with the reason in `error` (Russian).
    QString start(const QString &programDir, QString *error);
    qint64 processId() const { return m_process.processId(); }

private:
    QProcess m_process;
};

} // namespace vortan
