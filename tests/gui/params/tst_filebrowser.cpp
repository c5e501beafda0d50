#include "paramtestsupport.h"

#include <QComboBox>
#include <QListWidget>
#include <QtTest>

#include <atomic>

using namespace vortan;
using namespace vortan::test;

namespace
{

QStringList itemsOf(const QListWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

// Three folders standing in for drives; the set that is "mounted" can change between ticks. The
// browser reads it on a worker thread that may outlive the world, hence shared and locked.
struct DriveWorld : ParamWorld {
    struct Mounts {
        QMutex lock;
        QVector<Volume> list;
    };
    QTemporaryDir home, stick, card;
    std::shared_ptr<Mounts> mounts = std::make_shared<Mounts>();
    FileBrowser &browser = window->fileBrowser();
    QComboBox *drive2 = find<QComboBox>(QStringLiteral("Drive2"));
    QListWidget *dir2 = find<QListWidget>(QStringLiteral("Dir2"));
    QListWidget *file2 = find<QListWidget>(QStringLiteral("File2"));
    QLineEdit *text2 = find<QLineEdit>(QStringLiteral("Text2"));

    DriveWorld()
    {
        mount(home.path(), "home");
        mount(stick.path(), "STICK");
        browser.setVolumeSource(readerOf(mounts));
        browser.start(home.path());
        window->openWindow();
        // Drive lists arrive from the ticks a test asks for, unless it starts the watch again.
        browser.stopWatch();
        QTRY_VERIFY_WITH_TIMEOUT(!browser.isReadingDrives(), 5000);
    }
    static FileBrowser::VolumeSource readerOf(std::shared_ptr<Mounts> m)
    {
        return [m] {
            const QMutexLocker hold(&m->lock);
            return m->list;
        };
    }
    void mount(const QString &root, const char *name)
    {
        const QMutexLocker hold(&mounts->lock);
        mounts->list.append({root, QString::fromLatin1(name)});
    }
    void unmount(const QString &root)
    {
        const QMutexLocker hold(&mounts->lock);
        mounts->list.removeIf([&](const Volume &v) { return v.rootPath == root; });
    }
    // One watch tick, waited for until its list is applied.
    void tick()
    {
        browser.DriveWatchTick();
        QTRY_VERIFY_WITH_TIMEOUT(!browser.isReadingDrives(), 5000);
    }
    void touch(const QTemporaryDir &drive, const char *name)
    {
        QFile f(drive.filePath(QString::fromLatin1(name)));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QStringList driveRoots() const
    {
        QStringList roots;
        for (int i = 0; i < drive2->count(); ++i)
            roots << drive2->itemData(i).toString();
        return roots;
    }
    // What a pick in the drop-down list does: select the row, then report the activation.
    void pickDrive(const QString &root)
    {
        const int row = drive2->findData(QDir::cleanPath(root));
        drive2->setCurrentIndex(row);
        emit drive2->activated(row);
    }
    // Selects a folder of Dir2 and presses Enter on it, as a double click would.
    void enterFolder(const QString &name)
    {
        const QList<QListWidgetItem *> found = dir2->findItems(name, Qt::MatchExactly);
        QVERIFY2(!found.isEmpty(), qPrintable(name));
        dir2->setCurrentItem(found.first());
        QTest::keyClick(dir2, Qt::Key_Return);
    }
    // The browser with working file buttons, or (false) the notice "Диск недоступен" instead.
    bool browserShown(bool shown) const
    {
        bool all = find(QStringLiteral("Label38"))->isHidden() == shown &&
                   find(QStringLiteral("cmd_writeall"))->isEnabled();
        for (const char *name : {"Dir2", "File2", "Text2", "Text3"})
            all &= find(QString::fromLatin1(name))->isHidden() != shown;
        for (const char *name : {"cmdSaveFile", "cmdReadFile", "cmdCompare"})
            all &= find(QString::fromLatin1(name))->isEnabled() == shown;
        return all;
    }
};

} // namespace

class TstFileBrowser : public QObject
{
    Q_OBJECT
private slots:
    void patternFiltersTheFileList_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QStringList>("listed"); // a refused pattern keeps the list of "*.*"
        QTest::addColumn<bool>("refused");
        const QStringList all{"a.ini", "B.INI", "c.txt", "noext"};
        QTest::newRow("*.* lists names without a dot too") << "*.*" << all << false;
        QTest::newRow("extension, any letter case")
            << "*.ini" << QStringList{"a.ini", "B.INI"} << false;
        QTest::newRow("name.* also finds the bare name")
            << "noext.*" << QStringList{"noext"} << false;
        QTest::newRow("two patterns")
            << "?.ini;*.txt" << QStringList{"a.ini", "B.INI", "c.txt"} << false;
        QTest::newRow("open bracket refused") << "[abc" << all << true;
        QTest::newRow("folder refused") << "a/b*" << all << true;
        QTest::newRow("empty refused") << "" << all << true;
    }

    void patternFiltersTheFileList()
    {
        QFETCH(QString, pattern);
        QFETCH(QStringList, listed);
        QFETCH(bool, refused);
        DriveWorld w;
        for (const char *name : {"a.ini", "B.INI", "c.txt", "noext"})
            w.touch(w.home, name);
        QVERIFY(QDir(w.home.path()).mkdir(QStringLiteral("folder.ini")));
        w.browser.refreshFiles();
        QCOMPARE(w.text2->text(), QStringLiteral("*.*"));
        w.text2->setText(pattern);
        QCOMPARE(itemsOf(w.file2), listed);
        QCOMPARE(baseOf(w.text2), refused ? QColor(255, 0, 0) : QColor(255, 255, 255));
        w.text2->setText(QStringLiteral("*.txt"));
        QCOMPARE(baseOf(w.text2), QColor(255, 255, 255));
        QCOMPARE(itemsOf(w.file2), QStringList{"c.txt"});
    }

    void foldersAreEnteredFilesPickedAndLeft()
    {
        DriveWorld w;
        QVERIFY(QDir(w.home.path()).mkpath(QStringLiteral("sets/old")));
        w.touch(w.home, "sets/inner.ini");
        w.touch(w.home, "top.ini");
        w.browser.changeDirectory(w.home.path());
        QVERIFY(w.dir2->findItems(QStringLiteral(".."), Qt::MatchExactly).isEmpty());

        w.enterFolder(QStringLiteral("sets"));
        QCOMPARE(w.browser.path(), w.home.filePath(QStringLiteral("sets")));
        QCOMPARE(itemsOf(w.file2), QStringList{"inner.ini"});
        QTest::mouseClick(w.file2->viewport(), Qt::LeftButton, {},
                          w.file2->visualItemRect(w.file2->item(0)).center());
        QCOMPARE(w.find<QLineEdit>(QStringLiteral("Text3"))->text(), QStringLiteral("inner.ini"));
        w.click("cmdCompare");
        QCOMPARE(w.window->paramFilePath(), w.home.filePath(QStringLiteral("sets/inner.ini")));

        w.enterFolder(QStringLiteral(".."));
        QCOMPARE(w.browser.path(), QDir::cleanPath(w.home.path()));
        QCOMPARE(itemsOf(w.file2), QStringList{"top.ini"});
    }

    void drivesComeAndGo()
    {
        DriveWorld w;
        w.pickDrive(w.stick.path());
        w.mount(w.card.path(), "CARD");
        w.tick();
        QCOMPARE(w.driveRoots(),
                 (QStringList{QDir::cleanPath(w.home.path()), QDir::cleanPath(w.stick.path()),
                              QDir::cleanPath(w.card.path())}));
        QVERIFY(w.drive2->itemText(2).contains(QStringLiteral("CARD")));
        QCOMPARE(w.drive2->currentIndex(), 1);
        QCOMPARE(w.browser.path(), QDir::cleanPath(w.stick.path()));
        QVERIFY(w.browserShown(true));

        // The same number of drives leaves Drive2 alone.
        w.drive2->setCurrentIndex(0);
        w.tick();
        QCOMPARE(w.drive2->currentIndex(), 0);

        // The chosen drive pulled: the notice, until the start folder is back.
        w.pickDrive(w.stick.path());
        w.unmount(w.stick.path());
        w.tick();
        QCOMPARE(w.drive2->count(), 2);
        QVERIFY(w.browserShown(false));
        QCOMPARE(w.find<QLabel>(QStringLiteral("Label38"))->text(),
                 QStringLiteral("Диск недоступен"));
        w.browser.returnHome();
        QVERIFY(w.browserShown(true));
        QCOMPARE(w.browser.path(), QDir::cleanPath(w.home.path()));

        // A listed drive whose folder is gone is not browsable either.
        const QString gone = w.card.path() + QStringLiteral("/not-mounted");
        w.mount(gone, "CD");
        w.tick();
        w.pickDrive(gone);
        QVERIFY(w.browserShown(false));
        w.pickDrive(w.home.path());
        QVERIFY(w.browserShown(true));

        // The watch runs on its own.
        w.browser.startWatch();
        QTRY_VERIFY_WITH_TIMEOUT(!w.browser.isReadingDrives(), 5000);
        w.unmount(w.card.path());
        QTRY_COMPARE_WITH_TIMEOUT(w.drive2->count(), 2, 5000);
    }

    // A drive that does not answer holds up only the watch: the window's timers keep running, no
    // second read starts meanwhile, and the list is applied once the read returns.
    void hungDriveReadNeverBlocksTheWindow()
    {
        DriveWorld w;
        QSemaphore answer;
        std::atomic<int> reads{0}, inside{0};
        w.browser.setVolumeSource([&, read = DriveWorld::readerOf(w.mounts)] {
            ++reads;
            ++inside;
            answer.tryAcquire(1, 10000); // bounded: a browser that waits here fails, not hangs
            --inside;
            return read();
        });
        w.mount(w.card.path(), "CARD");
        w.browser.DriveWatchTick();
        QTRY_COMPARE_WITH_TIMEOUT(inside.load(), 1, 5000);

        int fired = 0;
        QTimer exchangeTimer;
        QObject::connect(&exchangeTimer, &QTimer::timeout, [&] {
            ++fired;
            w.browser.DriveWatchTick();
        });
        exchangeTimer.start(10);
        QTRY_VERIFY_WITH_TIMEOUT(fired >= 5, 5000);
        exchangeTimer.stop();
        QCOMPARE(reads.load(), 1);
        QCOMPARE(w.drive2->count(), 2);

        answer.release();
        QTRY_COMPARE_WITH_TIMEOUT(w.drive2->count(), 3, 5000);
        QCOMPARE(reads.load(), 1);
    }

    // The browser opens in the folder the program was started in, where files are then saved; a
    // start folder that is gone gives the home folder.
    void startsInTheCurrentFolderElseHome()
    {
        const QString before = QDir::currentPath();
        const auto restore = qScopeGuard([&] { QDir::setCurrent(before); });
        QTemporaryDir scratch;
        QVERIFY(QDir::setCurrent(scratch.path()));
        {
            ParamWorld w;
            QCOMPARE(w.window->fileBrowser().path(), QDir::cleanPath(scratch.path()));
            w.find<QLineEdit>(QStringLiteral("Text3"))->setText(QStringLiteral("set.ini"));
            w.click("cmdSaveFile");
            QVERIFY(QFile::exists(scratch.filePath(QStringLiteral("set.ini"))));
        }
        QVERIFY(scratch.remove());
        ParamWorld w;
        QCOMPARE(w.window->fileBrowser().path(), QDir::cleanPath(QDir::homePath()));
    }

    void eachDriveKeepsItsFolder()
    {
        DriveWorld w;
        QVERIFY(QDir(w.stick.path()).mkdir(QStringLiteral("sets")));
        QVERIFY(QDir(w.home.path()).mkdir(QStringLiteral("work")));
        w.browser.changeDirectory(w.home.filePath(QStringLiteral("work")));
        w.pickDrive(w.stick.path());
        w.browser.changeDirectory(w.stick.filePath(QStringLiteral("sets")));
        w.pickDrive(w.home.path());
        QCOMPARE(w.browser.path(), w.home.filePath(QStringLiteral("work")));
        w.pickDrive(w.stick.path());
        QCOMPARE(w.browser.path(), w.stick.filePath(QStringLiteral("sets")));
        QVERIFY(!w.browser.changeDirectory(w.home.path())); // a folder of another drive
    }

    void realMountsAreReadableFolders()
    {
        QSet<QString> roots;
        for (const Volume &v : MountedVolumes()) {
            QVERIFY2(QFileInfo(v.rootPath).isDir() &&
                         !v.rootPath.startsWith(QLatin1String("/proc")),
                     qPrintable(v.rootPath));
            roots.insert(v.rootPath);
        }
        QVERIFY(!roots.isEmpty());
        QCOMPARE(roots.size(), MountedVolumes().size());
    }
};

QTEST_MAIN(TstFileBrowser)
#include "tst_filebrowser.moc"
