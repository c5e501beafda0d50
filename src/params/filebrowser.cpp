#include "params/filebrowser.h"

#include "params/paramtable.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QSet>
#include <QStorageInfo>
#include <QStyle>

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

// Mounts no one keeps parameter files on: kernel and package images, boot and runtime areas.
bool isSystemMount(const QString &root, const QByteArray &type)
{
    static const QSet<QByteArray> kSkipTypes = {"squashfs", "tmpfs",   "devtmpfs", "ramfs",
                                                "proc",     "sysfs",   "cgroup",   "cgroup2",
                                                "autofs",   "fusectl", "efivarfs"};
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

} // namespace

QVector<Volume> MountedVolumes()
{
    QVector<Volume> volumes;
    QSet<QString> seen;
    const QList<QStorageInfo> mounted = QStorageInfo::mountedVolumes();
    for (const QStorageInfo &s : mounted) {
        if (!s.isValid() || !s.isReady())
            continue;
        const QString root = s.rootPath();
        if (seen.contains(root) || isSystemMount(root, s.fileSystemType()) ||
            !isBrowsableFolder(root))
            continue;
        seen.insert(root);
        volumes.append({root, s.name()});
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

FileBrowser::FileBrowser(const Widgets &widgets, QObject *parent)
    : QObject(parent), m_w(widgets), m_volumes(MountedVolumes), m_filters(PatternFilters("*.*"))
{
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

void FileBrowser::setVolumeSource(VolumeSource source)
{
    m_volumes = source ? std::move(source) : VolumeSource(MountedVolumes);
}

void FileBrowser::start(const QString &directory)
{
    m_home = QDir::cleanPath(QFileInfo(directory).absoluteFilePath());
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
    const QVector<Volume> volumes = m_volumes();
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
