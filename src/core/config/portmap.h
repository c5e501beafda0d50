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
// A gateway's address (tcp://HOST:PORT, rfc2217://HOST:PORT) is a device too, kept as written.
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
    // The device a port named on the command line (--port) stands for: "COM5" (any case) is
    // port 5 of this map, overrides included; an absolute path is itself; a relative path that
    // exists is made absolute; a gateway's address is itself; any other name lies below /dev
    // ("ttyUSB0"). On Windows every name but COMn is the device itself. `number` receives n for
    // "COMn", else 0. Empty for an empty name, a COMn outside 1..255 or a malformed gateway
    // address (number 0) and a port without a device (number n).
    QString typedDevice(const QString &typed, int *number = nullptr) const;
    // Replaces the device of port n for this run only (the --port option); never saved.
    void setDevice(int n, const QString &device);
    bool isOverridden(int n) const { return m_overrides.contains(n); }

private:
    QMap<int, QString> m_overrides;
};

} // namespace vortan
