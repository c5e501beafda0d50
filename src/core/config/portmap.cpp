#include "portmap.h"
#include "format/logging.h"

#include "config/inifile.h"
#include "modbus/tcplink.h"

#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>

namespace vortan
{

QString PortMap::builtInDevice(int n)
{
#ifdef Q_OS_WIN
    if (n >= 1 && n <= LastNumber)
        return QStringLiteral("COM%1").arg(n);
    return {};
#else
    if (n >= 1 && n <= 4)
        return QStringLiteral("/dev/ttyS%1").arg(n - 1);
    if (n >= 5 && n <= 12)
        return QStringLiteral("/dev/ttyUSB%1").arg(n - 5);
    if (n >= 13 && n <= 16)
        return QStringLiteral("/dev/ttyACM%1").arg(n - 13);
    return {};
#endif
}

PortMap PortMap::fromConfigFile(const QString &configFile)
{
    PortMap map;
    IniDocument ini;
    if (!ini.load(configFile)) {
        qCWarning(lcConfig) << "cannot read port overrides from" << configFile;
        return map;
    }
    for (int n = 1; n <= LastNumber; ++n) {
        const QString key = QStringLiteral("COM%1").arg(n);
        const QString value = ini.value(QLatin1String(OverrideSection), key, QString()).trimmed();
        if (value.isEmpty())
            continue;
#ifdef Q_OS_WIN
        map.setDevice(n, value);
#else
        map.setDevice(n, value.startsWith(QLatin1Char('/')) || NetworkAddress::isNetwork(value)
                             ? value
                             : QStringLiteral("/dev/") + value);
#endif
        qCDebug(lcConfig) << key << "->" << map.device(n);
    }
    return map;
}

QString PortMap::device(int n) const
{
    const auto it = m_overrides.constFind(n);
    if (it != m_overrides.constEnd())
        return it.value();
    return builtInDevice(n);
}

QString PortMap::typedDevice(const QString &typed, int *number) const
{
    if (number)
        *number = 0;
    const QString name = typed.trimmed();
    if (name.isEmpty())
        return {};
    static const QRegularExpression comName(QStringLiteral("^COM(\\d{1,3})$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch com = comName.match(name);
    if (com.hasMatch()) {
        const int n = com.captured(1).toInt();
        if (n < 1 || n > LastNumber)
            return {};
        if (number)
            *number = n;
        return device(n);
    }
    if (NetworkAddress::isNetwork(name))
        return NetworkAddress::parse(name) ? name : QString();
#ifdef Q_OS_WIN
    return name;
#else
    const QFileInfo info(name);
    if (info.isAbsolute() || info.exists())
        return info.absoluteFilePath();
    return QStringLiteral("/dev/") + name;
#endif
}

void PortMap::setDevice(int n, const QString &device)
{
    if (n < 0 || n > LastNumber)
        return;
    m_overrides.insert(n, device);
}

} // namespace vortan
