#include "modbus/adapterinfo.h"
#include "modbus/qserialportlink.h"

#include <QSerialPort>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

using vortan::OpenResult;
using vortan::QSerialPortLink;

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

} // namespace

class TestQSerialPortLink : public QObject
{
    Q_OBJECT

private slots:
    void everyByteValueCrossesBothWaysWhileOpen()
    {
        Adapter adapter;
        QVERIFY(adapter.plug());
        QSerialPortLink link([&](int n) { return n == 3 ? adapter.slavePath() : QString(); });
        QSignalSpy adapterChanged(&link, &QSerialPortLink::adapterChanged);
        link.selectPort(3);
        // A pseudo-terminal refuses low latency without a word and has no adapter to show.
#if QT_VERSION >= QT_VERSION_CHECK(6, 3, 0)
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
#endif
        QCOMPARE(link.open(), OpenResult::Ok);
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
    void reopensWhenTheDeviceComesBack()
    {
        Adapter adapter;
        QVERIFY(adapter.plug());
        QSerialPortLink link([&](int n) { return n == 5 ? adapter.device() : QString(); });
        QSignalSpy lost(&link, &QSerialPortLink::deviceLost);
        QSignalSpy back(&link, &QSerialPortLink::deviceBack);
        link.selectPort(5);
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
        QCOMPARE(back.count(), 1);
        QVERIFY(!link.isReopening());
        link.write(StatusPollFrame);
        QCOMPARE(adapter.receive(StatusPollFrame.size()), StatusPollFrame);

        // An explicit close ends the reopening.
        adapter.pull();
        QTRY_VERIFY_WITH_TIMEOUT(link.isReopening(), 2000);
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
};

QTEST_GUILESS_MAIN(TestQSerialPortLink)
#include "tst_qserialportlink.moc"
