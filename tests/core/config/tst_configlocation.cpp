#include "config/configfile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace cf = vortan::configfile;

class TestConfigLocation : public QObject
{
    Q_OBJECT

private slots:
    void chosenFolder_data()
    {
        QTest::addColumn<bool>("writable");
        QTest::addColumn<bool>("fileBeside");
        QTest::addColumn<bool>("beside");
        QTest::newRow("portable copy, first start") << true << false << true;
        QTest::newRow("portable copy with its file") << true << true << true;
        QTest::newRow("read-only folder holding the file") << false << true << true;
        QTest::newRow("read-only folder, installed program") << false << false << false;
    }

    void chosenFolder()
    {
        QFETCH(bool, writable);
        QFETCH(bool, fileBeside);
        QFETCH(bool, beside);
        QTemporaryDir program;
        QTemporaryDir user;
        const QString besidePath = program.filePath(QStringLiteral("тп.ini"));
        if (fileBeside) {
            QFile file(besidePath);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QCOMPARE(cf::choosePath(program.path(), writable, user.path()),
                 beside ? besidePath : user.filePath(QStringLiteral("vortan/тп.ini")));
    }
};

QTEST_GUILESS_MAIN(TestConfigLocation)
#include "tst_configlocation.moc"
