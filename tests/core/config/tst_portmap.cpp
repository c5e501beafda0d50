#include "config/portmap.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using vortan::PortMap;

class TestPortMap : public QObject
{
    Q_OBJECT

private slots:
    void builtInTable_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("device");
        QTest::newRow("COM1 first on-board") << 1 << "/dev/ttyS0";
        QTest::newRow("COM4 last on-board") << 4 << "/dev/ttyS3";
        QTest::newRow("COM5 first USB adapter") << 5 << "/dev/ttyUSB0";
        QTest::newRow("COM12 last USB adapter") << 12 << "/dev/ttyUSB7";
        QTest::newRow("COM13 first CDC device") << 13 << "/dev/ttyACM0";
        QTest::newRow("COM16 last CDC device") << 16 << "/dev/ttyACM3";
        QTest::newRow("port 0 has no device") << 0 << "";
        QTest::newRow("COM17 has no device") << 17 << "";
    }
    void builtInTable()
    {
        QFETCH(int, port);
        QFETCH(QString, device);
        QCOMPARE(PortMap().device(port), device);
    }

    // The section "Ports" overrides single numbers 1..255 and is only read, never written.
    void overridesFromConfigFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("тп.ini"));
        const QByteArray bytes = "[PC config]\r\nCOM=5\r\nCOM6=/dev/ttyS3\r\n"
                                 "[Ports]\r\n"
                                 "COM5=/dev/serial/by-id/usb-FTDI_FT232R-if00-port0\r\n"
                                 "COM3 = ttyAMA0\r\n"
                                 "COM7=\r\n"
                                 "COM20=/dev/ttyS9\r\n"
                                 "COM300=/dev/ttyS8\r\n";
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();

        const PortMap map = PortMap::fromConfigFile(path);
        QCOMPARE(map.device(5), QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R-if00-port0"));
        QCOMPARE(map.device(3), QStringLiteral("/dev/ttyAMA0"));
        QCOMPARE(map.device(6), QStringLiteral("/dev/ttyUSB1"));
        QCOMPARE(map.device(7), QStringLiteral("/dev/ttyUSB2"));
        QVERIFY(!map.isOverridden(7));
        QCOMPARE(map.device(20), QStringLiteral("/dev/ttyS9"));
        QCOMPARE(map.device(300), QString());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), bytes);

        QCOMPARE(PortMap::fromConfigFile(dir.filePath("missing.ini")).device(5), "/dev/ttyUSB0");
        QVERIFY(!QFile::exists(dir.filePath("missing.ini")));
    }

    // The --port option: this run only, numbers 0..255.
    void runOverrideReplacesOnePort()
    {
        PortMap map;
        map.setDevice(3, QStringLiteral("/tmp/sim-pty"));
        map.setDevice(0, QStringLiteral("/tmp/zero"));
        map.setDevice(256, QStringLiteral("/tmp/out-of-range"));
        map.setDevice(-1, QStringLiteral("/tmp/negative"));
        QCOMPARE(map.device(3), QStringLiteral("/tmp/sim-pty"));
        QCOMPARE(map.device(4), QStringLiteral("/dev/ttyS3"));
        QCOMPARE(map.device(0), QStringLiteral("/tmp/zero"));
        QCOMPARE(map.device(256), QString());
        QCOMPARE(map.device(-1), QString());
    }
};

QTEST_GUILESS_MAIN(TestPortMap)
#include "tst_portmap.moc"
