#include "modbus/qserialportlink.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

using vortan::OpenResult;
using vortan::QSerialPortLink;

namespace
{

// A pseudo-terminal pair: the link opens the slave side like a serial adapter; the test plays
// the controller on the master side.
class Pty
{
public:
    Pty()
    {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&m_master, &slave, name, nullptr, nullptr) != 0)
            return;
        ::close(slave);
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
        m_slave = QString::fromLocal8Bit(name);
    }
    ~Pty() { hangUp(); }
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    bool isValid() const { return m_master >= 0; }
    QString slavePath() const { return m_slave; }
    void hangUp()
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
            if (::poll(&fd, 1, 20) > 0 && (fd.revents & POLLIN)) {
                char buf[512];
                const ssize_t r = ::read(m_master, buf, sizeof buf);
                if (r > 0)
                    got.append(buf, int(r));
            }
        }
        return got;
    }

private:
    int m_master = -1;
    QString m_slave;
};

QByteArray allByteValues()
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(char(i));
    return bytes;
}

// Reads what the link holds, as the exchange tick does: no event loop, short looks only.
QByteArray drain(QSerialPortLink &link, int n, int ms = 2000)
{
    QByteArray got;
    QDeadlineTimer deadline(ms);
    while (got.size() < n && !deadline.hasExpired()) {
        if (link.bytesWaiting() == 0) {
            QThread::usleep(500);
            continue;
        }
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
    void opensPseudoTerminalWithLineSettings()
    {
        Pty pty;
        QVERIFY(pty.isValid());
        QSerialPortLink link([&](int n) { return n == 3 ? pty.slavePath() : QString(); });
        link.selectPort(3);
        QCOMPARE(link.selectedPort(), 3);
        QVERIFY(!link.isOpen());
        QCOMPARE(link.open(), OpenResult::Ok);
        QVERIFY(link.isOpen());
        QCOMPARE(link.deviceName(), pty.slavePath());
        QCOMPARE(link.open(), OpenResult::Unavailable);
        QVERIFY(link.isOpen());
        link.close();
        QVERIFY(!link.isOpen());
        QCOMPARE(link.open(), OpenResult::Ok);
    }

    void unavailableDevices_data()
    {
        QTest::addColumn<QString>("device");
        QTest::newRow("missing path") << "/dev/ttyVortanMissing";
        QTest::newRow("no device for the number") << "";
        QTest::newRow("a directory") << "/tmp";
        QTest::newRow("a plain file") << "plainfile";
    }

    void unavailableDevices()
    {
        QFETCH(QString, device);
        QTemporaryDir dir;
        if (device == "plainfile") {
            device = dir.filePath(device);
            QFile f(device);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("not a terminal");
        }
        QSerialPortLink link([&](int) { return device; });
        link.selectPort(1);
        QCOMPARE(link.open(), OpenResult::Unavailable);
        QVERIFY(!link.isOpen());
        QCOMPARE(link.bytesWaiting(), 0);
        QCOMPARE(link.readByte(), -1);
    }

    void inUseWhenAnotherProgramHoldsIt_data()
    {
        QTest::addColumn<bool>("throughLink");
        QTest::newRow("same device name") << false;
        QTest::newRow("reached through a symbolic link") << true;
    }

    void inUseWhenAnotherProgramHoldsIt()
    {
        QFETCH(bool, throughLink);
        Pty pty;
        QVERIFY(pty.isValid());
        QSerialPort other;
        other.setPortName(pty.slavePath());
        QVERIFY(other.open(QIODevice::ReadWrite));

        QTemporaryDir dir;
        QString device = pty.slavePath();
        if (throughLink) {
            device = dir.filePath(QStringLiteral("ttyVortan"));
            QVERIFY(QFile::link(pty.slavePath(), device));
        }
        QSerialPortLink link([&](int) { return device; });
        QCOMPARE(link.open(), OpenResult::InUse);
        QVERIFY(!link.isOpen());

        other.close();
        QCOMPARE(link.open(), OpenResult::Ok);
    }

    void everyByteValueCrossesBothWays()
    {
        Pty pty;
        QVERIFY(pty.isValid());
        QSerialPortLink link([&](int) { return pty.slavePath(); });
        QCOMPARE(link.open(), OpenResult::Ok);

        const QByteArray bytes = allByteValues();
        link.write(bytes);
        QCOMPARE(pty.receive(bytes.size()), bytes);

        QVERIFY(pty.send(bytes));
        QCOMPARE(drain(link, bytes.size()), bytes);
        QCOMPARE(link.bytesWaiting(), 0);
        QCOMPARE(link.readByte(), -1);
    }

    void closedLinkSendsAndReceivesNothing()
    {
        Pty pty;
        QVERIFY(pty.isValid());
        QSerialPortLink link([&](int) { return pty.slavePath(); });
        QCOMPARE(link.open(), OpenResult::Ok);
        link.close();
        link.write(QByteArray("\x01\x04\x07\xD0", 4));
        QCOMPARE(pty.receive(1, 100), QByteArray());
        QVERIFY(pty.send("\x01\x02\x03"));
        QCOMPARE(link.bytesWaiting(), 0);
        QCOMPARE(link.readByte(), -1);
    }

    void lostDeviceIsSeenByTheTickAlone()
    {
        auto pty = std::make_unique<Pty>();
        QVERIFY(pty->isValid());
        const QString path = pty->slavePath();
        QSerialPortLink link([&](int) { return path; });
        QSignalSpy lost(&link, &QSerialPortLink::deviceLost);
        QCOMPARE(link.open(), OpenResult::Ok);

        pty->hangUp();
        QCOMPARE(link.bytesWaiting(), 0);
        QVERIFY(!link.isOpen());
        QVERIFY(link.isReopening());
        QCOMPARE(lost.count(), 1);
        link.write(QByteArray("\x01\x04", 2));
        QCOMPARE(link.readByte(), -1);
    }

    void reopensWhenTheDeviceComesBack()
    {
        QTemporaryDir dir;
        const QString device = dir.filePath(QStringLiteral("ttyVortan"));
        auto first = std::make_unique<Pty>();
        QVERIFY(first->isValid());
        QVERIFY(QFile::link(first->slavePath(), device));

        QSerialPortLink link([&](int n) { return n == 5 ? device : QString(); });
        QSignalSpy lost(&link, &QSerialPortLink::deviceLost);
        QSignalSpy back(&link, &QSerialPortLink::deviceBack);
        link.selectPort(5);
        QCOMPARE(link.open(), OpenResult::Ok);

        first->hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(!link.isOpen(), 2000);
        QCOMPARE(lost.count(), 1);
        QCOMPARE(link.bytesWaiting(), 0);

        Pty second;
        QVERIFY(second.isValid());
        QVERIFY(QFile::remove(device));
        QVERIFY(QFile::link(second.slavePath(), device));
        QTRY_VERIFY_WITH_TIMEOUT(link.isOpen(), 2500);
        QCOMPARE(back.count(), 1);
        QVERIFY(!link.isReopening());
        QCOMPARE(link.selectedPort(), 5);

        const QByteArray frame("\x01\x04\x07\xD0\x00\x48\xF0\xB1", 8);
        link.write(frame);
        QCOMPARE(second.receive(frame.size()), frame);
    }

    void explicitCloseEndsReopening()
    {
        QTemporaryDir dir;
        const QString device = dir.filePath(QStringLiteral("ttyVortan"));
        auto first = std::make_unique<Pty>();
        QVERIFY(first->isValid());
        QVERIFY(QFile::link(first->slavePath(), device));
        QSerialPortLink link([&](int) { return device; });
        QCOMPARE(link.open(), OpenResult::Ok);
        first->hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(link.isReopening(), 2000);

        link.close();
        QVERIFY(!link.isReopening());
        Pty second;
        QVERIFY(QFile::remove(device));
        QVERIFY(QFile::link(second.slavePath(), device));
        QTest::qWait(QSerialPortLink::ReopenIntervalMs + 300);
        QVERIFY(!link.isOpen());
    }
};

QTEST_GUILESS_MAIN(TestQSerialPortLink)
#include "tst_qserialportlink.moc"
