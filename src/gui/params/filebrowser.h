#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVector>

#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QWidget;

namespace vortan
{

// A mounted file system as the drive list shows it.
struct Volume {
    QString rootPath;
    QString name;
};

// The mounted file systems a user keeps files on: ready, readable, and not a pseudo, network or
// package-image mount. Network mounts are left out before any of them is asked, so a server
// that does not answer cannot hold the caller up.
QVector<Volume> MountedVolumes();

// Expands a wild-card pattern ("*.ini", "*.*", "a*;b*") into name filters with the meaning
// users know from drive lists: "*.*" lists every file, "name.*" also finds "name".
// Returns an empty list when the pattern cannot be used.
QStringList PatternFilters(const QString &pattern);

// The small file browser of the parameters window: Drive2 (file systems), Dir2 (folders of the
// current path), File2 (files matching Text2), Text3 (the chosen name), Label38 (shown instead
// of the browser when the chosen drive cannot be read) and the hidden Drive1 that the 500 ms
// drive watch refreshes. The watch reads the drives on a worker thread, so a drive that does not
// answer never holds up the window or the exchange timer.
class FileBrowser : public QObject
{
    Q_OBJECT
public:
    struct Widgets {
        QComboBox *drive2 = nullptr;
        QComboBox *drive1 = nullptr;
        QListWidget *dir2 = nullptr;
        QListWidget *file2 = nullptr;
        QLineEdit *text2 = nullptr;
        QLineEdit *text3 = nullptr;
        QLabel *label38 = nullptr;
        QList<QWidget *> fileButtons;
    };
    // Called on the watch's worker thread (and once on the caller's thread by start()).
    using VolumeSource = std::function<QVector<Volume>()>;

    static constexpr int WatchIntervalMs = 500;
    static constexpr int LostDriveNoticeMs = 1500;

    FileBrowser(const Widgets &widgets, QObject *parent);
    ~FileBrowser() override;

    void setVolumeSource(VolumeSource source);
    // Lists the drives and opens `directory` (the browser's home); a folder that is gone or
    // cannot be browsed gives the user's home folder instead.
    void start(const QString &directory);
    void startWatch();
    void stopWatch();

    QString path() const { return m_path; }
    bool isAvailable() const { return m_available; }
    // True from a watch tick until its drive list has arrived and been applied.
    bool isReadingDrives() const { return m_reading; }

    // Drive2 changed: the chosen drive's current folder, or the unavailable state.
    bool changeDrive(int row);
    // Dir2 changed: enters the folder; an unreadable one is refused.
    bool changeDirectory(const QString &directory);
    // Text2 changed: white and the new pattern, or red with the file list left as it was.
    bool applyPattern(const QString &pattern);
    void refreshFiles();
    // One tick of the drive watch: starts reading the drives, unless a read still runs, and
    // returns at once. The list that arrives goes into Drive1 and, when the set differs from
    // Drive2, refreshes Drive2 keeping its selection.
    void DriveWatchTick();
    // After the chosen drive vanished: back to the start folder.
    void returnHome();

private:
    struct DriveRead;

    void applyVolumes(const QVector<Volume> &volumes, quint64 generation);
    void fillDrives(QComboBox *box, const QVector<Volume> &volumes);
    QStringList rootsOf(const QComboBox *box) const;
    int rowForPath(const QString &path) const;
    QString rootOfRow(int row) const;
    void fillDirectories();
    void setAvailable(bool available);
    void enterItem(QListWidgetItem *item);
    void pickFile(QListWidgetItem *item);

    Widgets m_w;
    VolumeSource m_volumes;
    QString m_home;
    QString m_path;
    QStringList m_filters;
    QHash<QString, QString> m_folderOnDrive;
    bool m_available = false;
    QTimer m_watch;
    QTimer m_lostDrive;
    // Shared with the worker thread, which may outlive the browser when a drive hangs.
    std::shared_ptr<DriveRead> m_driveRead;
    bool m_reading = false;
    // Lists read before the latest start() or source change are stale and dropped.
    quint64 m_generation = 0;
};

} // namespace vortan
