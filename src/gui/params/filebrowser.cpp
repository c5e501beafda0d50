#include "params/filebrowser.h"

#include "params/paramtable.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QSet>
#include <QStorageInfo>
#include <QStyle>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace vortan
{

namespace
{

constexpr int PathRole = Qt::UserRole;

bool isUnder(const QString &path, const QString &root)
{
    if (root.isEmpty())
        return false;
    if (path == root)
        return true;
    const QString prefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    return path.startsWith(prefix);
}

bool isBrowsableFolder(const QString &path)
{
    const QFileInfo info(path);
    return info.isDir() && info.isReadable() && info.isExecutable();
}

// Mounts no one keeps parameter files on (kernel and package images, boot and runtime areas), and
// network mounts, whose server may take minutes to answer or never do.
bool isSkippedMount(const QString &root, const QByteArray &type)
{
    static const QSet<QByteArray> kSkipTypes = {
        "squashfs",       "tmpfs",  "devtmpfs",    "ramfs",      "proc", "sysfs", "cgroup",
        "cgroup2",        "autofs", "fusectl",     "efivarfs",   "nfs",  "nfs4",  "cifs",
        "smb3",           "smbfs",  "sshfs",       "fuse.sshfs", "9p",   "ceph",  "glusterfs",
        "fuse.glusterfs", "davfs",  "fuse.davfs2", "afs"};
    if (root == QLatin1String("/"))
        return false;
    if (kSkipTypes.contains(type))
        return true;
    if (isUnder(root, QStringLiteral("/run/media")))
        return false;
    for (const char *area : {"/boot", "/dev", "/proc", "/sys", "/run", "/snap", "/var/lib"}) {
        if (isUnder(root, QString::fromLatin1(area)))
            return true;
    }
    return false;
}

void setBase(QWidget *widget, const QColor &colour)
{
    QPalette p = widget->palette();
    p.setColor(QPalette::Base, colour);
    widget->setPalette(p);
}

struct MountEntry {
    QString root;
    QByteArray type;
};

#ifdef Q_OS_LINUX
// A mount point as mountinfo writes it: blanks, tabs, line ends and backslashes as \ooo.
QString unescapeMountPath(const QByteArray &field)
{
    QByteArray out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        bool ok = false;
        const int code =
            i + 3 < field.size() && field.at(i) == '\\' ? field.mid(i + 1, 3).toInt(&ok, 8) : 0;
        if (ok && code < 256) {
            out.append(char(code));
            i += 3;
        } else {
            out.append(field.at(i));
        }
    }
    return QFile::decodeName(out);
}
#endif

// The mount table with each mount's type. Reading it asks the kernel only, none of the mounted
// file systems, so it cannot hang on one.
QList<MountEntry> mountTable()
{
    QList<MountEntry> entries;
#ifdef Q_OS_LINUX
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    // "36 35 98:0 /root /mnt/stick rw,noatime master:1 - vfat /dev/sdb1 rw": the mount point is
    // the fifth field, the type follows the lone "-".
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-", 6);
        if (fields.size() < 5 || dash < 0 || dash + 1 >= fields.size())
            continue;
        entries.append({unescapeMountPath(fields.at(4)), fields.at(dash + 1)});
    }
#else
    for (const QStorageInfo &s : QStorageInfo::mountedVolumes())
        entries.append({s.rootPath(), s.fileSystemType()});
#endif
    return entries;
}

} // namespace

QVector<Volume> MountedVolumes()
{
    const QList<MountEntry> table = mountTable();
    // A later mount on the same folder hides the earlier one; only the visible one counts.
    QHash<QString, qsizetype> visible;
    for (qsizetype i = 0; i < table.size(); ++i)
        visible.insert(table.at(i).root, i);
    QVector<Volume> volumes;
    for (qsizetype i = 0; i < table.size(); ++i) {
        const MountEntry &m = table.at(i);
        if (visible.value(m.root) != i || isSkippedMount(m.root, m.type))
            continue;
        const QStorageInfo s(m.root);
        if (!s.isValid() || !s.isReady() || !isBrowsableFolder(m.root))
            continue;
        volumes.append({m.root, s.name()});
    }
    return volumes;
}

QStringList PatternFilters(const QString &pattern)
{
    QStringList filters;
    const QStringList parts = pattern.split(QLatin1Char(';'));
    for (const QString &part : parts) {
        const QString p = part.trimmed();
        if (p.isEmpty())
            continue;
        if (p.contains(QLatin1Char('/')))
            return {};
        const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(p));
        if (!re.isValid())
            return {};
        filters.append(p);
        if (p.endsWith(QLatin1String(".*")) && p.size() > 2)
            filters.append(p.chopped(2));
    }
    return filters;
}

// What the browser and its drive read share. A read hung on a drive outlives the browser, so the
// worker reaches the browser only through `receiver`, under the lock, while it is still there.
struct FileBrowser::DriveRead {
    std::mutex lock;
    std::condition_variable finished;
    FileBrowser *receiver = nullptr;
    bool running = false;
};

FileBrowser::FileBrowser(const Widgets &widgets, QObject *parent)
    : QObject(parent), m_w(widgets), m_volumes(MountedVolumes), m_filters(PatternFilters("*.*")),
      m_driveRead(std::make_shared<DriveRead>())
{
    m_driveRead->receiver = this;
    m_watch.setInterval(WatchIntervalMs);
    m_lostDrive.setSingleShot(true);
    m_lostDrive.setInterval(LostDriveNoticeMs);
    connect(&m_watch, &QTimer::timeout, this, &FileBrowser::DriveWatchTick);
    connect(&m_lostDrive, &QTimer::timeout, this, &FileBrowser::returnHome);

    connect(m_w.drive2, qOverload<int>(&QComboBox::activated), this, &FileBrowser::changeDrive);
    connect(m_w.dir2, &QListWidget::itemActivated, this, &FileBrowser::enterItem);
    connect(m_w.file2, &QListWidget::itemClicked, this, &FileBrowser::pickFile);
    connect(m_w.file2, &QListWidget::currentItemChanged, this,
            [this](QListWidgetItem *current) { pickFile(current); });
    connect(m_w.text2, &QLineEdit::textChanged, this, &FileBrowser::applyPattern);
}

FileBrowser::~FileBrowser()
{
    std::unique_lock<std::mutex> hold(m_driveRead->lock);
    m_driveRead->receiver = nullptr;
    // A read normally ends within milliseconds; one hung on a drive is left to end on its own.
    m_driveRead->finished.wait_for(hold, std::chrono::milliseconds(WatchIntervalMs),
                                   [read = m_driveRead.get()] { return !read->running; });
}

void FileBrowser::setVolumeSource(VolumeSource source)
{
    m_volumes = source ? std::move(source) : VolumeSource(MountedVolumes);
    ++m_generation;
}

void FileBrowser::start(const QString &directory)
{
    ++m_generation;
    const QString folder = isBrowsableFolder(directory) ? directory : QDir::homePath();
    m_home = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    m_folderOnDrive.clear();
    const QVector<Volume> volumes = m_volumes();
    fillDrives(m_w.drive1, volumes);
    fillDrives(m_w.drive2, volumes);
    int row = rowForPath(m_home);
    if (row >= 0)
        m_folderOnDrive.insert(rootOfRow(row), m_home);
    else
        row = 0;
    if (m_w.drive2->count() == 0) {
        setAvailable(false);
        return;
    }
    {
        const QSignalBlocker block(m_w.drive2);
        m_w.drive2->setCurrentIndex(row);
    }
    changeDrive(row);
}

void FileBrowser::startWatch()
{
    DriveWatchTick();
    m_watch.start();
}

void FileBrowser::stopWatch()
{
    m_watch.stop();
}

bool FileBrowser::changeDrive(int row)
{
    m_lostDrive.stop();
    const QString root = rootOfRow(row);
    if (root.isEmpty() || !isBrowsableFolder(root)) {
        qCInfo(lcParams) << "drive" << root << "cannot be read";
        setAvailable(false);
        return false;
    }
    if (m_w.drive2->currentIndex() != row) {
        const QSignalBlocker block(m_w.drive2);
        m_w.drive2->setCurrentIndex(row);
    }
    QString target = m_folderOnDrive.value(root, root);
    if (!isUnder(target, root) || !isBrowsableFolder(target))
        target = root;
    m_path = QDir::cleanPath(target);
    m_folderOnDrive.insert(root, m_path);
    setAvailable(true);
    fillDirectories();
    refreshFiles();
    return true;
}

bool FileBrowser::changeDirectory(const QString &directory)
{
    if (!m_available || !isBrowsableFolder(directory)) {
        qCInfo(lcParams) << "folder" << directory << "cannot be opened";
        return false;
    }
    const QString root = rootOfRow(m_w.drive2->currentIndex());
    const QString path = QDir::cleanPath(QFileInfo(directory).absoluteFilePath());
    if (!isUnder(path, root))
        return false;
    m_path = path;
    m_folderOnDrive.insert(root, m_path);
    fillDirectories();
    refreshFiles();
    return true;
}

bool FileBrowser::applyPattern(const QString &pattern)
{
    const QStringList filters = PatternFilters(pattern);
    if (filters.isEmpty()) {
        setBase(m_w.text2, QColor(255, 0, 0));
        return false;
    }
    setBase(m_w.text2, QColor(255, 255, 255));
    m_filters = filters;
    refreshFiles();
    return true;
}

void FileBrowser::refreshFiles()
{
    if (!m_available)
        return;
    const QSignalBlocker block(m_w.file2);
    m_w.file2->clear();
    const QStringList names =
        QDir(m_path).entryList(m_filters, QDir::Files, QDir::Name | QDir::IgnoreCase);
    m_w.file2->addItems(names);
    const QList<QListWidgetItem *> chosen =
        m_w.file2->findItems(m_w.text3->text(), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (!chosen.isEmpty())
        m_w.file2->setCurrentItem(chosen.first());
}

void FileBrowser::DriveWatchTick()
{
    if (m_reading)
        return;
    m_reading = true;
    {
        const std::lock_guard<std::mutex> hold(m_driveRead->lock);
        m_driveRead->running = true;
    }
    std::thread([read = m_driveRead, source = m_volumes, generation = m_generation] {
        const QVector<Volume> volumes = source();
        const std::lock_guard<std::mutex> hold(read->lock);
        read->running = false;
        read->finished.notify_all();
        if (FileBrowser *browser = read->receiver) {
            // Posted while the lock keeps the browser alive; its destructor drops the event.
            QMetaObject::invokeMethod(
                browser,
                [browser, volumes, generation] { browser->applyVolumes(volumes, generation); },
                Qt::QueuedConnection);
        }
    }).detach();
}

void FileBrowser::applyVolumes(const QVector<Volume> &volumes, quint64 generation)
{
    m_reading = false;
    if (generation != m_generation)
        return;
    fillDrives(m_w.drive1, volumes);
    const QStringList now = rootsOf(m_w.drive1);
    if (now == rootsOf(m_w.drive2))
        return;

    const QString current = rootOfRow(m_w.drive2->currentIndex());
    const QSignalBlocker block(m_w.drive2);
    fillDrives(m_w.drive2, volumes);
    const int kept = now.indexOf(current);
    if (kept >= 0) {
        m_w.drive2->setCurrentIndex(kept);
        return;
    }
    qCInfo(lcParams) << "drive" << current << "is gone";
    const int home = rowForPath(m_home);
    m_w.drive2->setCurrentIndex(home >= 0 ? home : 0);
    setAvailable(false);
    m_lostDrive.start();
}

void FileBrowser::returnHome()
{
    m_lostDrive.stop();
    if (m_w.drive2->count() == 0) {
        setAvailable(false);
        return;
    }
    int row = rowForPath(m_home);
    if (row >= 0)
        m_folderOnDrive.insert(rootOfRow(row), m_home);
    else
        row = 0;
    {
        const QSignalBlocker block(m_w.drive2);
        m_w.drive2->setCurrentIndex(row);
    }
    changeDrive(row);
}

void FileBrowser::fillDrives(QComboBox *box, const QVector<Volume> &volumes)
{
    const QSignalBlocker block(box);
    box->clear();
    for (const Volume &v : volumes) {
        const QString shown = v.name.isEmpty() || v.name == v.rootPath
                                  ? QDir::toNativeSeparators(v.rootPath)
                                  : QDir::toNativeSeparators(v.rootPath) + QStringLiteral("  [") +
                                        v.name + QLatin1Char(']');
        box->addItem(shown, QDir::cleanPath(v.rootPath));
    }
}

QStringList FileBrowser::rootsOf(const QComboBox *box) const
{
    QStringList roots;
    for (int i = 0; i < box->count(); ++i)
        roots.append(box->itemData(i).toString());
    return roots;
}

int FileBrowser::rowForPath(const QString &path) const
{
    int best = -1;
    int bestLength = -1;
    for (int i = 0; i < m_w.drive2->count(); ++i) {
        const QString root = rootOfRow(i);
        if (isUnder(path, root) && root.size() > bestLength) {
            best = i;
            bestLength = int(root.size());
        }
    }
    return best;
}

QString FileBrowser::rootOfRow(int row) const
{
    if (row < 0 || row >= m_w.drive2->count())
        return QString();
    return m_w.drive2->itemData(row).toString();
}

void FileBrowser::fillDirectories()
{
    QListWidget *list = m_w.dir2;
    const QSignalBlocker block(list);
    list->clear();
    QStyle *style = list->style();

    auto *here = new QListWidgetItem(style->standardIcon(QStyle::SP_DirOpenIcon),
                                     QDir::toNativeSeparators(m_path), list);
    here->setFlags(Qt::ItemIsEnabled);
    list->setToolTip(QDir::toNativeSeparators(m_path));

    const QString root = rootOfRow(m_w.drive2->currentIndex());
    if (m_path != root) {
        auto *up = new QListWidgetItem(style->standardIcon(QStyle::SP_FileDialogToParent),
                                       QStringLiteral(".."), list);
        up->setData(PathRole, QFileInfo(m_path).absolutePath());
    }

    const QDir dir(m_path);
    const QFileInfoList folders =
        dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo &f : folders) {
        auto *item =
            new QListWidgetItem(style->standardIcon(QStyle::SP_DirIcon), f.fileName(), list);
        item->setData(PathRole, f.absoluteFilePath());
        if (!f.isReadable() || !f.isExecutable())
            item->setFlags(item->flags() & ~Qt::ItemIsEnabled);
    }
}

void FileBrowser::setAvailable(bool available)
{
    m_available = available;
    m_w.label38->setVisible(!available);
    for (QWidget *w : {static_cast<QWidget *>(m_w.dir2), static_cast<QWidget *>(m_w.file2),
                       static_cast<QWidget *>(m_w.text2), static_cast<QWidget *>(m_w.text3)})
        w->setVisible(available);
    for (QWidget *button : std::as_const(m_w.fileButtons))
        button->setEnabled(available);
}

void FileBrowser::enterItem(QListWidgetItem *item)
{
    if (!item)
        return;
    const QString target = item->data(PathRole).toString();
    if (!target.isEmpty())
        changeDirectory(target);
}

void FileBrowser::pickFile(QListWidgetItem *item)
{
    if (item)
        m_w.text3->setText(item->text());
}

} // namespace vortan
