#include "modbus/adapterinfo.h"
#include "modbus/qserialportlink.h"
#include "modbus/rfc2217.h"

#include <QSerialPort>
#include <QSocketNotifier>
#include <QtTest>

#include <algorithm>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

using vortan::OpenResult;
using vortan::QSerialPortLink;
namespace rfc2217 = vortan::rfc2217;

namespace
{

const QByteArray StatusPollFrame("\x01\x04\x07\xD0\x00\x48\xF0\xB1", 8);

// A serial adapter: a pseudo-terminal reached through a symbolic link. The link opens the slave
// side, the test plays the controller on the master side and can pull the adapter and plug a new
// one in under the same name.
class Adapter
{
public:
    Adapter() = default;
    ~Adapter() { pull(); }
    Adapter(const Adapter &) = delete;
    Adapter &operator=(const Adapter &) = delete;

    QString device() const { return m_dir.filePath(QStringLiteral("ttyVortan")); }
    QString slavePath() const { return m_slave; }
    bool plug()
    {
        pull();
        int slave = -1;
        char name[256] = {};
        if (::openpty(&m_master, &slave, name, nullptr, nullptr) != 0)
            return false;
        ::close(slave);
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
        m_slave = QString::fromLocal8Bit(name);
        QFile::remove(device());
        return QFile::link(m_slave, device());
    }
    void pull()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }
    bool send(const QByteArray &bytes)
    {
        return ::write(m_master, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    // What the link wrote, waiting at most `ms` for `n` bytes.
    QByteArray receive(int n, int ms = 2000)
    {
        QByteArray got;
        QDeadlineTimer deadline(ms);
        while (got.size() < n && !deadline.hasExpired()) {
            pollfd fd{m_master, POLLIN, 0};
            char buf[512];
            const ssize_t r = ::poll(&fd, 1, 20) > 0 ? ::read(m_master, buf, sizeof buf) : 0;
            got.append(buf, int(qMax<ssize_t>(r, 0)));
        }
        return got;
    }

private:
    QTemporaryDir m_dir;
    int m_master = -1;
    QString m_slave;
};

// Reads what the link holds, as the exchange tick does: no event loop, short looks only.
QByteArray drain(QSerialPortLink &link, int n)
{
    QByteArray got;
    QDeadlineTimer deadline(2000);
    while (got.size() < n && !deadline.hasExpired()) {
        while (link.bytesWaiting() > 0)
            got.append(char(link.readByte()));
    }
    return got;
}

// Whether the port under the link would wake the program for arriving bytes.
bool readNotifierOn(QSerialPortLink &link)
{
    const auto *port = link.findChild<QSerialPort *>();
    const auto notifiers =
        port ? port->findChildren<QSocketNotifier *>() : QList<QSocketNotifier *>();
    return std::any_of(notifiers.begin(), notifiers.end(), [](const QSocketNotifier *n) {
        return n->type() == QSocketNotifier::Read && n->isEnabled();
    });
}

} // namespace

class TestQSerialPortLink : public QObject
{
    Q_OBJECT

private slots:
    // Without arrival stamps the port takes nothing itself: the tick reads the driver.
    void everyByteValueCrossesBothWaysWhileOpen_data()
    {
        QTest::addColumn<bool>("stamps");
        QTest::newRow("arrivals stamped") << true;
        QTest::newRow("arrivals not stamped") << false;
    }
    void everyByteValueCrossesBothWaysWhileOpen()
    {
        QFETCH(bool, stamps);
        Adapter adapter;
        QVERIFY(adapter.plug());
        QSerialPortLink link([&](int n) { return n == 3 ? adapter.slavePath() : QString(); });
        QSignalSpy adapterChanged(&link, &QSerialPortLink::adapterChanged);
        link.selectPort(3);
        // A pseudo-terminal refuses low latency without a word and has no adapter to show.
#if QT_VERSION >= QT_VERSION_CHECK(6, 3, 0)
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
#endif
        link.setArrivalStamps(stamps);
        QCOMPARE(link.open(), OpenResult::Ok);
        QCOMPARE(readNotifierOn(link), stamps);
        QCOMPARE(link.deviceName(), adapter.slavePath());
        QVERIFY(!link.adapter().known());
        QCOMPARE(adapterChanged.count(), 1);
        QCOMPARE(link.open(), OpenResult::Unavailable);
        QVERIFY(link.isOpen());

        QByteArray bytes;
        for (int i = 0; i < 256; ++i)
            bytes.append(char(i));
        link.write(bytes);
        QCOMPARE(adapter.receive(bytes.size()), bytes);
        QVERIFY(adapter.send(bytes));
        QCOMPARE(drain(link, bytes.size()), bytes);
        QCOMPARE(link.readByte(), -1);
        QCOMPARE(link.timing().lastArrivalUs >= link.timing().requestSentUs, stamps);
        QCOMPARE(readNotifierOn(link), stamps);

        link.close();
        QVERIFY(!link.isOpen());
        link.write(StatusPollFrame);
        QCOMPARE(adapter.receive(1, 100), QByteArray());
        QVERIFY(adapter.send("\x01\x02\x03"));
        QCOMPARE(link.bytesWaiting(), 0);
        QCOMPARE(link.readByte(), -1);
        QCOMPARE(link.open(), OpenResult::Ok);
    }

    // The driver and the latency timer as sysfs gives them, reached through a by-id name.
    void adapterFromSysfs_data()
    {
        QTest::addColumn<QString>("driver");     // empty: no driver link
        QTest::addColumn<QByteArray>("latency"); // null: no latency_timer file
        QTest::addColumn<bool>("inSysfs");
        QTest::addColumn<QString>("shown");
        QTest::newRow("FTDI, low latency")
            << "ftdi_sio" << QByteArray("1\n") << true << "ftdi_sio, таймер задержки 1 мс";
        QTest::newRow("FTDI, factory 16 ms")
            << "ftdi_sio" << QByteArray("16\n") << true << "ftdi_sio, таймер задержки 16 мс";
        QTest::newRow("CDC-ACM, no timer") << "cdc_acm" << QByteArray() << true << "cdc_acm";
        QTest::newRow("timer unreadable")
            << "ftdi_sio" << QByteArray("\xff\xfe 99999999999") << true << "ftdi_sio";
        QTest::newRow("pseudo-terminal, no entry") << "" << QByteArray() << false << "—";
    }
    void adapterFromSysfs()
    {
        QFETCH(QString, driver);
        QFETCH(QByteArray, latency);
        QFETCH(bool, inSysfs);
        QFETCH(QString, shown);
        QTemporaryDir root;
        QDir dir(root.path());
        QVERIFY(dir.mkpath(QStringLiteral("dev/serial/by-id")));
        QFile node(dir.filePath(QStringLiteral("dev/ttyUSB0")));
        QVERIFY(node.open(QIODevice::WriteOnly));
        const QString byId = dir.filePath(QStringLiteral("dev/serial/by-id/usb-FTDI-if00-port0"));
        QVERIFY(QFile::link(QStringLiteral("../../ttyUSB0"), byId));
        const QString port = QStringLiteral("sys/class/tty/ttyUSB0/device");
        if (inSysfs)
            QVERIFY(dir.mkpath(port));
        if (!driver.isEmpty()) {
            const QString target = QStringLiteral("sys/bus/usb-serial/drivers/") + driver;
            QVERIFY(dir.mkpath(target));
            QVERIFY(QFile::link(dir.filePath(target), dir.filePath(port + "/driver")));
        }
        if (!latency.isNull()) {
            QFile timer(dir.filePath(port + "/latency_timer"));
            QVERIFY(timer.open(QIODevice::WriteOnly) && timer.write(latency) == latency.size());
        }
        const QString sys = dir.filePath(QStringLiteral("sys"));
        QCOMPARE(vortan::adapterText(vortan::readAdapterInfo(byId, sys)), shown);
        QVERIFY(!vortan::readAdapterInfo(dir.filePath(QStringLiteral("dev/ttyUSB9")), sys).known());
    }

    // A missing device and a plain file are no serial ports.
    void unavailableDevices()
    {
        QTemporaryDir dir;
        QFile plain(dir.filePath(QStringLiteral("plainfile")));
        QVERIFY(plain.open(QIODevice::WriteOnly) && plain.write("not a terminal") > 0);
        for (const QString &device : {QStringLiteral("/dev/ttyVortanMissing"), plain.fileName()}) {
            QSerialPortLink link([&](int) { return device; });
            QCOMPARE(link.open(), OpenResult::Unavailable);
            QVERIFY(!link.isOpen() && link.bytesWaiting() == 0 && link.readByte() == -1);
        }
    }

    // Also when the device is reached through a symbolic link.
    void inUseWhenAnotherProgramHoldsIt()
    {
        Adapter adapter;
        QVERIFY(adapter.plug());
        QSerialPort other;
        other.setPortName(adapter.slavePath());
        QVERIFY(other.open(QIODevice::ReadWrite));
        QSerialPortLink link([&](int) { return adapter.device(); });
        QCOMPARE(link.open(), OpenResult::InUse);
        QVERIFY(!link.isOpen());
        other.close();
        QCOMPARE(link.open(), OpenResult::Ok);
    }

    // The tick alone (no event loop turn) sees the loss; the link then comes back by itself.
    void reopensWhenTheDeviceComesBack_data()
    {
        everyByteValueCrossesBothWaysWhileOpen_data();
    }
    void reopensWhenTheDeviceComesBack()
    {
        QFETCH(bool, stamps);
        Adapter adapter;
        QVERIFY(adapter.plug());
        QSerialPortLink link([&](int n) { return n == 5 ? adapter.device() : QString(); });
        QSignalSpy lost(&link, &QSerialPortLink::deviceLost);
        QSignalSpy back(&link, &QSerialPortLink::deviceBack);
        link.selectPort(5);
        link.setArrivalStamps(stamps);
        QCOMPARE(link.open(), OpenResult::Ok);

        adapter.pull();
        QCOMPARE(link.bytesWaiting(), 0);
        QVERIFY(!link.isOpen());
        QVERIFY(link.isReopening());
        QCOMPARE(lost.count(), 1);
        link.write(StatusPollFrame);
        QCOMPARE(link.readByte(), -1);

        QVERIFY(adapter.plug());
        QTRY_VERIFY_WITH_TIMEOUT(link.isOpen(), 2500);
        QCOMPARE(readNotifierOn(link), stamps);
        QCOMPARE(back.count(), 1);
        QVERIFY(!link.isReopening());
        link.write(StatusPollFrame);
        QCOMPARE(adapter.receive(StatusPollFrame.size()), StatusPollFrame);

        // An explicit close ends the reopening. Without arrival stamps the tick's look notices.
        adapter.pull();
        const auto noticed = [&] {
            link.bytesWaiting();
            return link.isReopening();
        };
        QTRY_VERIFY_WITH_TIMEOUT(noticed(), 2000);
        link.close();
        QVERIFY(adapter.plug());
        QCoreApplication::processEvents();
        QVERIFY(!link.isReopening() && !link.isOpen());
    }

    // Read, write and resource errors also come from a look that merely found nothing; only a
    // device that really went away closes the port.
    void errorClosesOnlyAVanishedDevice_data()
    {
        QTest::addColumn<bool>("pulled");
        QTest::newRow("device still there") << false;
        QTest::newRow("device hung up and gone") << true;
    }
    void errorClosesOnlyAVanishedDevice()
    {
        QFETCH(bool, pulled);
        Adapter adapter;
        QVERIFY(adapter.plug());
        QSerialPortLink link([&](int) { return adapter.device(); });
        QSignalSpy lost(&link, &QSerialPortLink::deviceLost);
        QCOMPARE(link.open(), OpenResult::Ok);
        if (pulled)
            adapter.pull();
        QSerialPort *port = link.findChild<QSerialPort *>();
        QVERIFY(port);
        for (auto error :
             {QSerialPort::ReadError, QSerialPort::WriteError, QSerialPort::ResourceError})
            emit port->errorOccurred(error);
        QCOMPARE(link.isOpen(), !pulled);
        QCOMPARE(link.isReopening(), pulled);
        QCOMPARE(lost.count(), int(pulled));
        if (!pulled) {
            link.write(StatusPollFrame);
            QCOMPARE(adapter.receive(StatusPollFrame.size()), StatusPollFrame);
        }
    }

    // Through an RFC 2217 gateway the program sets the far end's line to 115200 8E1 with no flow
    // control, and a 0xFF in a frame goes out doubled so the server does not take it for a command.
    void rfc2217CommandBytes()
    {
        QCOMPARE(rfc2217::lineSettings().toHex(' '), QByteArray("ff fa 2c 01 00 01 c2 00 ff f0 "
                                                                "ff fa 2c 02 08 ff f0 "
                                                                "ff fa 2c 03 03 ff f0 "
                                                                "ff fa 2c 04 01 ff f0 "
                                                                "ff fa 2c 05 01 ff f0"));
        QCOMPARE(rfc2217::escape(QByteArray::fromHex("01ff02ffff")).toHex(),
                 QByteArray("01ffff02ffffffff"));
        rfc2217::TelnetReader reader;
        // WILL BINARY, DO BINARY, WILL COM-PORT-OPTION.
        QCOMPARE(reader.start().toHex(' '), QByteArray("ff fb 00 ff fd 00 ff fb 2c"));
    }

    // What comes from a telnet server, cut anywhere: line data with 0xFF undoubled, answers to its
    // option requests (each refused once, none repeated), the line it reports having set.
    void rfc2217ServerBytes_data()
    {
        QTest::addColumn<QByteArray>("fromServer");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("farLine");

        QTest::newRow("plain data")
            << QByteArray::fromHex("0103020000") << QByteArray::fromHex("0103020000")
            << QByteArray() << QString();
        QTest::newRow("doubled 0xFF is one data byte")
            << QByteArray::fromHex("01ffff02ffff") << QByteArray::fromHex("01ff02ff")
            << QByteArray() << QString();
        QTest::newRow("agreement to our offers needs no answer")
            << QByteArray::fromHex("fffd2cfffd00fffb00") << QByteArray() << QByteArray()
            << QString();
        QTest::newRow("other options refused once")
            << QByteArray::fromHex("fffd18fffb01fffd18fffb01fffb03") << QByteArray()
            << QByteArray::fromHex("fffc18fffe01fffd03") << QString();
        QTest::newRow("commands between data bytes vanish")
            << QByteArray::fromHex("01fff102fff903") << QByteArray::fromHex("010203")
            << QByteArray() << QString();
        QTest::newRow("server reports 115200 8E1")
            << QByteArray::fromHex("fffa2c650001c200fff0"
                                   "fffa2c6608fff0fffa2c6703fff0fffa2c6801fff0aa")
            << QByteArray::fromHex("aa") << QByteArray() << QStringLiteral("115200 8E1");
        QTest::newRow("server reports 9600 8N1")
            << QByteArray::fromHex("fffa2c6500002580fff0"
                                   "fffa2c6608fff0fffa2c6701fff0fffa2c6801fff0")
            << QByteArray() << QByteArray() << QStringLiteral("9600 8N1");
        QTest::newRow("short, empty and oversized subnegotiations are ignored")
            << QByteArray::fromHex("fffa2c65fff0fffafff0fffa2c65") + QByteArray(100, '\x01') +
                   QByteArray::fromHex("fff005")
            << QByteArray::fromHex("05") << QByteArray() << QString();
    }

    void rfc2217ServerBytes()
    {
        QFETCH(QByteArray, fromServer);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, reply);
        QFETCH(QString, farLine);
        // Whole, and one byte at a time: a command cut by a TCP segment must read the same.
        for (const int step : {int(fromServer.size()), 1}) {
            rfc2217::TelnetReader reader;
            reader.start();
            QByteArray gotData;
            QByteArray gotReply;
            for (int i = 0; i < fromServer.size(); i += step)
                reader.feed(fromServer.mid(i, step), gotData, gotReply);
            QCOMPARE(gotData.toHex(' '), data.toHex(' '));
            QCOMPARE(gotReply.toHex(' '), reply.toHex(' '));
            QCOMPARE(reader.farLine().complete() ? reader.farLine().text() : QString(), farLine);
        }
    }
};

QTEST_GUILESS_MAIN(TestQSerialPortLink)
#include "tst_qserialportlink.moc"
