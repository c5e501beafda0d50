#pragma once

#include "modbus/frames.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QList>
#include <QMainWindow>
#include <QPair>

namespace vortan
{

// frm_main: the live picture of the controller and the operator's panel, built from the
// layout table. It owns no timer and no port; the start-up glue wires those in.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);

    // On a screen whose free area (`available`, in the screen's logical pixels) cannot take the
    // whole window, the client area goes into a scroll area and the window is sized to fit;
    // every control keeps its parent, place and size. On a screen that can, nothing changes.
    void fitInto(const QSize &available);

    // Start-up steps 2-5: slave addresses "0".."127" at index 1, the three others "0".."7" at 0.
    void fillLists();

    // The operator's check boxes and lists as registers 4002..4006 carry them.
    ControlState controlState() const;
    // Index of cmb_slad; 0 while the list is empty.
    int slaveAddress() const;

    QLabel *statusLine() const;
    QComboBox *slaveList() const;

    // A control by its layout name and array index (-1 for a single control); null if absent.
    template <class T>
    T *control(const char *name, int index = -1) const
    {
        return findChild<T *>(controlName(name, index));
    }
    QLabel *label(const char *name, int index = -1) const { return control<QLabel>(name, index); }

signals:
    void paramsRequested();
    void portSettingsRequested();
    void monitorRequested();
    void trendsRequested();
    void journalRequested();
    void reportRequested();
    void commandClicked(int index, const QString &tag);
    // The operator (or a program) changed a check box or list that the control-state poll sends.
    void controlStateEdited(const vortan::ControlState &state);

private:
    static QString controlName(const char *name, int index);
    void buildControls();
    void buildMenu();
    void cacheControlState();
    static int tagSum(const QList<QCheckBox *> &group);
    static int listIndex(const QComboBox *box);

    QLabel *m_statusLine = nullptr;
    QComboBox *m_slaveList = nullptr;
    // Looked up once: every change of one of them is passed on as a whole control state.
    QList<QPair<QCheckBox *, int>> m_wordBits;
    QList<QCheckBox *> m_bdn;
    QList<QCheckBox *> m_flr;
    QList<QCheckBox *> m_iflr;
    QComboBox *m_priority = nullptr;
    QComboBox *m_section = nullptr;
    QComboBox *m_nextSection = nullptr;
};

} // namespace vortan
