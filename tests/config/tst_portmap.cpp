#include "config/portmap.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using vortan::PortMap;

class TestPortMap : public QObject
{
    Q_OBJECT

private:
    static QString writeFile(const QTemporaryDir &dir, const QByteArray &bytes)
    {
        const QString path = dir.filePath(QStringLiteral("тп.ini"));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            return {};
        return path;
    }

    static QByteArray readFile(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

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
        QTest::newRow("COM255 has no device") << 255 << "";
        QTest::newRow("negative number") << -1 << "";
        QTest::newRow("beyond a byte") << 256 << "";
    }

    void builtInTable()
    {
        QFETCH(int, port);
        QFETCH(QString, device);
        QCOMPARE(PortMap().device(port), device);
        QCOMPARE(PortMap::builtInDevice(port), device);
    }

    void overridesFromConfigFile()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QByteArray bytes = "[PC config]\r\nCOM=5\r\n"
                                 "[Ports]\r\n"
                                 "COM5=/dev/serial/by-id/usb-FTDI_FT232R-if00-port0\r\n"
                                 "COM3 = ttyAMA0\r\n"
                                 "COM7=\r\n"
                                 "COM20=/dev/ttyS9\r\n"
                                 "COM300=/dev/ttyS8\r\n"
                                 "[VRT config]\r\nMBSLAD=1\r\n";
        const QString path = writeFile(dir, bytes);
        QVERIFY(!path.isEmpty());

        const PortMap map = PortMap::fromConfigFile(path);
        QCOMPARE(map.device(5), QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R-if00-port0"));
#ifndef Q_OS_WIN
        QCOMPARE(map.device(3), QStringLiteral("/dev/ttyAMA0"));
        QCOMPARE(map.device(7), QStringLiteral("/dev/ttyUSB2"));
        QCOMPARE(map.device(6), QStringLiteral("/dev/ttyUSB1"));
#endif
        QCOMPARE(map.device(20), QStringLiteral("/dev/ttyS9"));
        QVERIFY(!map.isOverridden(7));
        QCOMPARE(map.device(300), QString());
        QCOMPARE(readFile(path), bytes);
    }

    void missingFileOrSectionKeepsTable()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const PortMap none = PortMap::fromConfigFile(dir.filePath(QStringLiteral("тп.ini")));
        QCOMPARE(none.device(5), PortMap::builtInDevice(5));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("тп.ini"))));

        const QString path = writeFile(dir, "[PC config]\r\nCOM5=/dev/ttyS3\r\n");
        const PortMap otherSection = PortMap::fromConfigFile(path);
        QCOMPARE(otherSection.device(5), PortMap::builtInDevice(5));
    }

    void runOverrideReplacesOnePort()
    {
        PortMap map;
        map.setDevice(3, QStringLiteral("/tmp/sim-pty"));
        QCOMPARE(map.device(3), QStringLiteral("/tmp/sim-pty"));
        QCOMPARE(map.device(4), PortMap::builtInDevice(4));

        map.setDevice(0, QStringLiteral("/tmp/zero"));
        QCOMPARE(map.device(0), QStringLiteral("/tmp/zero"));

        map.setDevice(256, QStringLiteral("/tmp/out-of-range"));
        map.setDevice(-1, QStringLiteral("/tmp/negative"));
        QCOMPARE(map.device(256), QString());
        QCOMPARE(map.device(-1), QString());
    }
};

QTEST_GUILESS_MAIN(TestPortMap)
#include "tst_portmap.moc"
