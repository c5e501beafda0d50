#pragma once

#include <QMap>
#include <QString>

namespace vortan
{

// Port numbers as the engineer knows them ("COM" n) and the devices behind them on this
// platform. On Windows port n is the device COMn. Elsewhere a fixed table applies:
//   COM1..COM4   -> /dev/ttyS0..3     (on-board ports)
//   COM5..COM12  -> /dev/ttyUSB0..7   (USB adapters)
//   COM13..COM16 -> /dev/ttyACM0..3   (USB CDC devices)
// The section "Ports" of the configuration file may override any number 1..255, e.g.
// COM5=/dev/serial/by-id/usb-FTDI_...; a value without a leading '/' is taken below /dev.
class PortMap
{
public:
    static constexpr int FirstListed = 1;
    static constexpr int LastListed = 16;
    static constexpr int LastNumber = 255;
    static constexpr const char *OverrideSection = "Ports";

    static QString builtInDevice(int n);

    // The built-in table with the overrides of the section "Ports" of `configFile` (read only).
    static PortMap fromConfigFile(const QString &configFile);

    // The device of port n; empty when port n has none (the open then fails as unavailable).
    QString device(int n) const;
    // Replaces the device of port n for this run only (the --port option); never saved.
    void setDevice(int n, const QString &device);
    bool isOverridden(int n) const { return m_overrides.contains(n); }

private:
    QMap<int, QString> m_overrides;
};

} // namespace vortan
