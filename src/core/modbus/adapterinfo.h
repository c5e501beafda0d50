#pragma once

#include <QString>

namespace vortan
{

// What the system tells about the converter behind a serial device: its driver and, where it
// has one (FTDI), the latency timer for which it holds back a short last packet.
struct AdapterInfo {
    QString driver;     // empty: not known (a pseudo-terminal, a network link, not Linux)
    int latencyMs = -1; // -1: not known

    bool known() const { return !driver.isEmpty() || latencyMs >= 0; }
};

// The adapter of `device` as sysfs under `sysRoot` describes it; a symbolic link to the device
// (a /dev/serial/by-id name) is followed to the device node first.
AdapterInfo readAdapterInfo(const QString &device, const QString &sysRoot = QStringLiteral("/sys"));

// "ftdi_sio, таймер задержки 1 мс", "cdc_acm", or "—" when nothing is known.
QString adapterText(const AdapterInfo &info);

} // namespace vortan
