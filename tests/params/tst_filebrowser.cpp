#include "paramtestsupport.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using namespace vortan;
using namespace vortan::test;

namespace
{

void touch(const QString &path)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
}

QStringList itemsOf(const QListWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

// A double click as the window system delivers it: press, release, then the double-click event.
void doubleClick(QWidget *widget, const QPoint &at)
{
    QTest::mouseClick(widget, Qt::LeftButton, {}, at);
    const QPointF local(at);
    const QPointF global(widget->mapToGlobal(at));
    QMouseEvent press(QEvent::MouseButtonDblClick, local, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &release);
}

QListWidgetItem *itemNamed(QListWidget *list, const QString &text)
{
    const QList<QListWidgetItem *> found = list->findItems(text, Qt::MatchExactly);
    return found.isEmpty() ? nullptr : found.first();
}

// Three folders standing in for drives; the set that is "mounted" can change between ticks.
struct DriveWorld : ParamWorld {
    QTemporaryDir home;
    QTemporaryDir stick;
    QTemporaryDir card;
    QVector<Volume> mounted;
    QComboBox *drive2 = nullptr;
    QListWidget *dir2 = nullptr;
    QListWidget *file2 = nullptr;

    DriveWorld()
    {
        mounted = {{home.path(), QStringLiteral("home")}, {stick.path(), QStringLiteral("STICK")}};
        window->fileBrowser().setVolumeSource([this] { return mounted; });
        window->fileBrowser().start(home.path());
        window->openWindow();
        drive2 = find<QComboBox>(QStringLiteral("Drive2"));
        dir2 = find<QListWidget>(QStringLiteral("Dir2"));
        file2 = find<QListWidget>(QStringLiteral("File2"));
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
        const int row = driveRoots().indexOf(QDir::cleanPath(root));
        drive2->setCurrentIndex(row);
        emit drive2->activated(row);
    }
    bool browserShown() const
    {
        return !find<QWidget>(QStringLiteral("Dir2"))->isHidden() &&
               !find<QWidget>(QStringLiteral("File2"))->isHidden() &&
               !find<QWidget>(QStringLiteral("Text2"))->isHidden() &&
               !find<QWidget>(QStringLiteral("Text3"))->isHidden() &&
               find<QWidget>(QStringLiteral("Label38"))->isHidden() &&
               find<QWidget>(QStringLiteral("cmdSaveFile"))->isEnabled() &&
               find<QWidget>(QStringLiteral("cmdReadFile"))->isEnabled() &&
               find<QWidget>(QStringLiteral("cmdCompare"))->isEnabled();
    }
    bool unavailableShown() const
    {
        return find<QWidget>(QStringLiteral("Dir2"))->isHidden() &&
               find<QWidget>(QStringLiteral("File2"))->isHidden() &&
               find<QWidget>(QStringLiteral("Text2"))->isHidden() &&
               find<QWidget>(QStringLiteral("Text3"))->isHidden() &&
               !find<QWidget>(QStringLiteral("Label38"))->isHidden() &&
               !find<QWidget>(QStringLiteral("cmdSaveFile"))->isEnabled() &&
               !find<QWidget>(QStringLiteral("cmdReadFile"))->isEnabled() &&
               !find<QWidget>(QStringLiteral("cmdCompare"))->isEnabled() &&
               find<QWidget>(QStringLiteral("cmd_writeall"))->isEnabled() &&
               find<QWidget>(QStringLiteral("cmd_readall"))->isEnabled();
    }
};

} // namespace

class TstFileBrowser : public QObject
{
    Q_OBJECT
private slots:
    void patternFiltersTheFileList_data();
    void patternFiltersTheFileList();
    void refusedPatternTurnsRedAndKeepsTheList();
    void clickingAFileNamesItInText3();
    void foldersAreEnteredAndLeft();
    void attachedDriveAppearsOnTheNextTick();
    void pulledDriveFallsBackToHome();
    void unreadableDriveShowsTheNotice();
    void eachDriveKeepsItsFolder();
    void realMountsAreReadableFolders();
};

void TstFileBrowser::patternFiltersTheFileList_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("*.* lists names without a dot too")
        << "*.*" << QStringList{"a.ini", "B.INI", "c.txt", "noext"};
    QTest::newRow("extension, any letter case") << "*.ini" << QStringList{"a.ini", "B.INI"};
    QTest::newRow("name.* also finds the bare name") << "noext.*" << QStringList{"noext"};
    QTest::newRow("two patterns") << "*.ini;*.txt" << QStringList{"a.ini", "B.INI", "c.txt"};
    QTest::newRow("question mark") << "?.txt" << QStringList{"c.txt"};
    QTest::newRow("nothing matches") << "*.bak" << QStringList{};
}

void TstFileBrowser::patternFiltersTheFileList()
{
    QFETCH(QString, pattern);
    QFETCH(QStringList, listed);
    DriveWorld w;
    for (const char *name : {"a.ini", "B.INI", "c.txt", "noext"})
        touch(w.home.filePath(QString::fromLatin1(name)));
    QVERIFY(QDir(w.home.path()).mkdir(QStringLiteral("folder.ini")));
    w.window->fileBrowser().refreshFiles();

    auto *text2 = w.find<QLineEdit>(QStringLiteral("Text2"));
    QCOMPARE(text2->text(), QStringLiteral("*.*"));
    text2->setText(pattern);
    QCOMPARE(itemsOf(w.file2), listed);
    QCOMPARE(baseOf(text2), QColor(255, 255, 255));
}

void TstFileBrowser::refusedPatternTurnsRedAndKeepsTheList()
{
    DriveWorld w;
    touch(w.home.filePath(QStringLiteral("a.ini")));
    touch(w.home.filePath(QStringLiteral("b.txt")));
    auto *text2 = w.find<QLineEdit>(QStringLiteral("Text2"));
    text2->setText(QStringLiteral("*.ini"));
    QCOMPARE(itemsOf(w.file2), QStringList{"a.ini"});

    for (const QString &bad : {QStringLiteral("[abc"), QStringLiteral("a/b*"), QString()}) {
        text2->setText(bad);
        QCOMPARE(baseOf(text2), QColor(255, 0, 0));
        QCOMPARE(itemsOf(w.file2), QStringList{"a.ini"});
    }
    text2->setText(QStringLiteral("*.txt"));
    QCOMPARE(baseOf(text2), QColor(255, 255, 255));
    QCOMPARE(itemsOf(w.file2), QStringList{"b.txt"});
}

void TstFileBrowser::clickingAFileNamesItInText3()
{
    DriveWorld w;
    touch(w.home.filePath(QStringLiteral("one.ini")));
    touch(w.home.filePath(QStringLiteral("two.ini")));
    w.window->fileBrowser().refreshFiles();
    QListWidgetItem *item = itemNamed(w.file2, QStringLiteral("two.ini"));
    QVERIFY(item);
    QTest::mouseClick(w.file2->viewport(), Qt::LeftButton, {},
                      w.file2->visualItemRect(item).center());
    QCOMPARE(w.find<QLineEdit>(QStringLiteral("Text3"))->text(), QStringLiteral("two.ini"));
}

void TstFileBrowser::foldersAreEnteredAndLeft()
{
    DriveWorld w;
    QVERIFY(QDir(w.home.path()).mkpath(QStringLiteral("sets/old")));
    touch(w.home.filePath(QStringLiteral("sets/inner.ini")));
    touch(w.home.filePath(QStringLiteral("top.ini")));
    w.window->fileBrowser().changeDirectory(w.home.path());
    QVERIFY(!itemNamed(w.dir2, QStringLiteral("..")));

    QListWidgetItem *sets = itemNamed(w.dir2, QStringLiteral("sets"));
    QVERIFY(sets);
    const QPoint at = w.dir2->visualItemRect(sets).center();
    doubleClick(w.dir2->viewport(), at);
    QCOMPARE(w.window->fileBrowser().path(), w.home.filePath(QStringLiteral("sets")));
    QCOMPARE(itemsOf(w.file2), QStringList{"inner.ini"});
    QVERIFY(itemNamed(w.dir2, QStringLiteral("old")));

    w.find<QLineEdit>(QStringLiteral("Text3"))->setText(QStringLiteral("inner.ini"));
    w.click("cmdCompare");
    QCOMPARE(w.window->paramFilePath(), w.home.filePath(QStringLiteral("sets/inner.ini")));

    QListWidgetItem *up = itemNamed(w.dir2, QStringLiteral(".."));
    QVERIFY(up);
    emit w.dir2->itemActivated(up);
    QCOMPARE(w.window->fileBrowser().path(), QDir::cleanPath(w.home.path()));
    QCOMPARE(itemsOf(w.file2), QStringList{"top.ini"});
}

void TstFileBrowser::attachedDriveAppearsOnTheNextTick()
{
    DriveWorld w;
    w.pickDrive(w.stick.path());
    QCOMPARE(w.window->fileBrowser().path(), QDir::cleanPath(w.stick.path()));

    w.mounted.append({w.card.path(), QStringLiteral("CARD")});
    w.window->fileBrowser().DriveWatchTick();
    QCOMPARE(w.driveRoots(),
             (QStringList{QDir::cleanPath(w.home.path()), QDir::cleanPath(w.stick.path()),
                          QDir::cleanPath(w.card.path())}));
    QCOMPARE(w.drive2->currentData().toString(), QDir::cleanPath(w.stick.path()));
    QCOMPARE(w.window->fileBrowser().path(), QDir::cleanPath(w.stick.path()));
    QVERIFY(w.browserShown());
    QVERIFY(w.drive2->itemText(2).contains(QStringLiteral("CARD")));

    // Unchanged drives leave Drive2 alone.
    w.drive2->setCurrentIndex(0);
    w.window->fileBrowser().DriveWatchTick();
    QCOMPARE(w.drive2->currentIndex(), 0);
    QCOMPARE(w.drive2->count(), 3);

    // The watch runs on its own while the window is open.
    w.mounted.removeLast();
    QTRY_COMPARE_WITH_TIMEOUT(w.drive2->count(), 2, 5000);
}

void TstFileBrowser::pulledDriveFallsBackToHome()
{
    DriveWorld w;
    w.pickDrive(w.stick.path());
    w.mounted.removeLast();
    w.window->fileBrowser().DriveWatchTick();
    QCOMPARE(w.driveRoots(), QStringList{QDir::cleanPath(w.home.path())});
    QVERIFY(w.unavailableShown());

    w.window->fileBrowser().returnHome();
    QVERIFY(w.browserShown());
    QCOMPARE(w.window->fileBrowser().path(), QDir::cleanPath(w.home.path()));
    QCOMPARE(w.drive2->currentIndex(), 0);
}

void TstFileBrowser::unreadableDriveShowsTheNotice()
{
    DriveWorld w;
    const QString gone = w.card.path() + QStringLiteral("/not-mounted");
    w.mounted.append({gone, QStringLiteral("CD")});
    w.window->fileBrowser().DriveWatchTick();
    w.pickDrive(QDir::cleanPath(gone));
    QVERIFY(w.unavailableShown());
    QCOMPARE(w.find<QLabel>(QStringLiteral("Label38"))->text(), QStringLiteral("Диск недоступен"));

    w.pickDrive(QDir::cleanPath(w.home.path()));
    QVERIFY(w.browserShown());
}

void TstFileBrowser::eachDriveKeepsItsFolder()
{
    DriveWorld w;
    QVERIFY(QDir(w.stick.path()).mkdir(QStringLiteral("sets")));
    QVERIFY(QDir(w.home.path()).mkdir(QStringLiteral("work")));
    w.window->fileBrowser().changeDirectory(w.home.filePath(QStringLiteral("work")));
    w.pickDrive(w.stick.path());
    w.window->fileBrowser().changeDirectory(w.stick.filePath(QStringLiteral("sets")));
    w.pickDrive(w.home.path());
    QCOMPARE(w.window->fileBrowser().path(), w.home.filePath(QStringLiteral("work")));
    w.pickDrive(w.stick.path());
    QCOMPARE(w.window->fileBrowser().path(), w.stick.filePath(QStringLiteral("sets")));
    // A folder on another drive is not entered from this one.
    QVERIFY(!w.window->fileBrowser().changeDirectory(w.home.path()));
}

void TstFileBrowser::realMountsAreReadableFolders()
{
    const QVector<Volume> volumes = MountedVolumes();
    QVERIFY(!volumes.isEmpty());
    QSet<QString> roots;
    for (const Volume &v : volumes) {
        QVERIFY2(QFileInfo(v.rootPath).isDir(), qPrintable(v.rootPath));
        QVERIFY2(!roots.contains(v.rootPath), qPrintable(v.rootPath));
        QVERIFY2(!v.rootPath.startsWith(QLatin1String("/proc")), qPrintable(v.rootPath));
        roots.insert(v.rootPath);
    }
}

QTEST_MAIN(TstFileBrowser)
#include "tst_filebrowser.moc"
