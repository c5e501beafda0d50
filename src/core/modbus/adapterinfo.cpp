#include "adapterinfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace vortan
{

AdapterInfo readAdapterInfo(const QString &device, const QString &sysRoot)
{
    AdapterInfo info;
    const QString node = device.isEmpty() ? QString() : QFileInfo(device).canonicalFilePath();
    const QString name = QFileInfo(node).fileName();
    if (name.isEmpty())
        return info;
    // A pseudo-terminal (/dev/pts/3) has no entry here, so it stays unknown.
    const QDir port(sysRoot + QStringLiteral("/class/tty/") + name + QStringLiteral("/device"));
    const QString driver = QFileInfo(port.filePath(QStringLiteral("driver"))).canonicalFilePath();
    if (!driver.isEmpty())
        info.driver = QFileInfo(driver).fileName();

    QFile latency(port.filePath(QStringLiteral("latency_timer")));
    if (latency.open(QIODevice::ReadOnly)) {
        bool ok = false;
        const int ms = latency.read(16).trimmed().toInt(&ok);
        // The FTDI chips take 1 to 255 ms; anything else is no timer we can name.
        if (ok && ms >= 0 && ms <= 255)
            info.latencyMs = ms;
    }
    return info;
}

QString adapterText(const AdapterInfo &info)
{
    QStringList parts;
    if (!info.driver.isEmpty())
        parts << info.driver;
    if (info.latencyMs >= 0)
        parts << QStringLiteral("таймер задержки %1 мс").arg(info.latencyMs);
    return parts.isEmpty() ? QStringLiteral("—") : parts.join(QStringLiteral(", "));
}

} // namespace vortan
