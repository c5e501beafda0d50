#pragma once

#include "params/boxcolours.h"
#include "params/paramfiles.h"
#include "params/paramset.h"
#include "params/paramtable.h"

#include <QPalette>
#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>

class QGroupBox;
class QLabel;
class QLineEdit;
class QScrollBar;

namespace vortan
{

class FileBrowser;
class RequestQueue;
class UserMessages;

// frm_param, "Программируемые параметры": the 111 value boxes of the controller's programmable
// parameters and calibration, their transfers to and from the controller, and parameter files.
// A view of the parameter set: replies reach the set whether or not the window is open. A
// modeless top-level window owned by the main window; closing it only hides it.
class ParamWindow : public QWidget
{
    Q_OBJECT
public:
    // The window shows and edits `set`, which outlives it.
    ParamWindow(ParamSet &set, RequestQueue &queue, QLabel *statusLine, UserMessages &messages,
                QWidget *owner);
    ~ParamWindow() override;

    // Shows and raises the window. Opening a closed window starts afresh: every value "-", the
    // parameter table rebuilt and a read of all parameters queued.
    void openWindow();

    // Where a short note for the status line goes; the exchange cycle rewrites that line every
    // tick, so the owner keeps the note there for a while. Without it the line is set once.
    std::function<void(const QString &)> showNote;

    const ParamTable &paramTable() const { return m_set.table(); }
    ParamSet &paramSet() { return m_set; }
    FileBrowser &fileBrowser() { return *m_browser; }
    // The full path of the file used by the last file command.
    QString paramFilePath() const { return m_paramFilePath; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void buildControls();
    void buildBoxes();
    void buildLegend();
    QWidget *parentFor(int parent) const;

    // Shows value `index` of the set: its text and the colour of its state.
    void showValue(int index);
    QString boxName(int index) const;
    void setStatus(const QString &text);

    bool queueReadAll();
    void onReadAll();
    void onWriteAll();
    void onEnter(int index);

    void onSaveFile();
    void onReadFile();
    bool readParamFile(bool statusShowsPath, ParamFileSet &set);
    void onCompare();

    void applyScrollRules();
    void onHScroll(int value);
    void onVScroll(int value);

    ParamSet &m_set;
    RequestQueue &m_queue;
    QPointer<QLabel> m_statusLine;
    UserMessages &m_messages;
    bool m_showing = false; // a box is being set from the set, not typed
    QString m_paramFilePath;

    QGroupBox *m_prg = nullptr;
    QScrollBar *m_vscroll = nullptr;
    QScrollBar *m_hscroll = nullptr;
    QLineEdit *m_text3 = nullptr;
    std::array<QLineEdit *, ParamTable::Count> m_boxes{};
    QPalette m_defaultBoxPalette;
    FileBrowser *m_browser = nullptr;
};

} // namespace vortan
