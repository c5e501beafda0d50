#pragma once

#include "config/configfile.h"
#include "record/csvrecorder.h"
#include "record/trendhistory.h"

#include <QColor>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class QScrollBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace vortan
{

class TrendPlot;
class UserMessages;

// frm_trends "Тренды": chosen numbers of the status block as curves over the last 1, 5, 15 or
// 60 minutes, scrolling live; a pause to scroll back through the history; a cursor that reads
// time and values; the picture saved as PNG; a recording to CSV started and stopped here. The
// choice, the span and the window's size are kept in the configuration file's "Trends" section.
class TrendWindow : public QWidget
{
    Q_OBJECT
public:
    TrendWindow(const TrendHistory &history, CsvRecorder &recorder, const QString &configPath,
                UserMessages &messages, QWidget *parent = nullptr);
    ~TrendWindow() override;

    // Asks for a file to write: title, suggested path, filter; empty when cancelled. A save
    // dialog by default; tests answer it themselves.
    // Title, suggested path, filter, whether the dialog itself asks before replacing a file.
    std::function<QString(const QString &, const QString &, const QString &, bool)> askSaveFile;

    QStringList selectedFields() const;
    void setSelectedFields(const QStringList &keys);
    int spanMinutes() const;

    bool startRecording(const QString &path, CsvRecorder::Mode mode = CsvRecorder::Mode::Create);
    void stopRecording();
    bool savePicture(const QString &path);

    // Redraws from the history now (the refresh timer does this while the window is shown).
    void refresh();
    TrendPlot *plot() const { return m_plot; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void buildFieldList();
    void fieldToggled(QTreeWidgetItem *item);
    void applyFields();
    void spanChanged();
    void pauseToggled(bool paused);
    void recordClicked();
    void pictureClicked();
    void showCursor(qint64 msecs);
    void updateTitle();
    void updateScrollRange();
    void saveSettings();
    qint64 spanMs() const;
    qint64 viewEnd() const;
    QString suggestedPath(const QString &stem, const QString &suffix) const;

    const TrendHistory &m_history;
    CsvRecorder &m_recorder;
    QString m_configPath;
    UserMessages &m_messages;
    configfile::TrendSettings m_saved;

    QTreeWidget *m_tree = nullptr;
    QComboBox *m_span = nullptr;
    QPushButton *m_pause = nullptr;
    QPushButton *m_record = nullptr;
    QPushButton *m_picture = nullptr;
    QScrollBar *m_scroll = nullptr;
    QLabel *m_cursorText = nullptr;
    TrendPlot *m_plot = nullptr;
    QTimer m_refresh;

    std::vector<int> m_fields; // history fields in the order they were chosen
    std::vector<QColor> m_colours;
    qint64 m_pausedEnd = 0;
    qint64 m_scrollBase = 0;
    QString m_lastFolder;
    bool m_loading = false;
};

} // namespace vortan
