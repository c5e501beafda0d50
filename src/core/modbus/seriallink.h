#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace vortan
{

// InUse: another program holds the device; Forbidden: we may not read and write it (not a
// member of the device's group); Unavailable: anything else (no such device, no port).
enum class OpenResult { Ok, InUse, Unavailable, Forbidden };

// When the bytes of the current exchange crossed the driver, on one monotonic clock in
// microseconds; -1 where the link cannot tell.
struct LinkTiming {
    qint64 requestSentUs = -1; // the last byte of the latest request was handed to the driver
    qint64 lastArrivalUs = -1; // the latest received bytes came in from the driver
};

// The serial line to the controller (115200 8E1), as the exchange cycle and the port dialog see
// it. Ports are numbered as the user knows them ("COM" n).
class SerialLink
{
public:
    virtual ~SerialLink() = default;
    virtual void selectPort(int n) = 0;
    virtual int selectedPort() const = 0;
    virtual OpenResult open() = 0; // opening an already open port fails (Unavailable)
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual int bytesWaiting() = 0; // 0 on a closed port
    virtual int readByte() = 0;     // next waiting byte 0..255; -1 when none
    // Up to `max` waiting bytes into `dst`; how many. A link that can hand a batch over at once
    // says so; by default byte after byte while bytesWaiting() holds any.
    virtual int readBytes(quint8 *dst, int max)
    {
        int n = 0;
        for (; n < max && bytesWaiting() > 0; ++n) {
            const int b = readByte();
            if (b < 0)
                break;
            dst[n] = quint8(b);
        }
        return n;
    }
    virtual void write(const QByteArray &frame) = 0; // queues and returns at once
    // Stamps taken as bytes move, not at the tick, so a reply time does not depend on when the
    // 40 ms tick happens to drain the line.
    virtual LinkTiming timing() const { return {}; }
    // Now on the clock of timing(); -1 where the link cannot tell.
    virtual qint64 nowUs() const { return -1; }
    // Whether replies are stamped as they arrive (timing().lastArrivalUs). A stamp can cost a
    // wake-up of the program per reply; a link that stamps for free ignores this. On by default.
    virtual void setArrivalStamps(bool on) { Q_UNUSED(on); }
};

} // namespace vortan
