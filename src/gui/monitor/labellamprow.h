#pragma once

#include "format/lamps.h"

#include <QColor>
#include <QString>
#include <QStringList>

#include <vector>

class QLabel;
class QWidget;

namespace vortan
{

// Background colour of an indicator; Default is the button face of the application palette.
QColor LampColour(Lamp lamp);

// Indicator labels painted by bit words. A label is repainted only when its colour changes,
// so a status reply that changes nothing costs no repaint.
class LabelLampRow : public LampRow
{
public:
    LabelLampRow() = default;
    explicit LabelLampRow(std::vector<QLabel *> labels);

    // Members name_0 .. name_(count-1) of frm_main; a missing member stays null and is skipped
    // (and its objectName is added to `missing` when given).
    static LabelLampRow find(const QWidget *frmMain, const char *name, int count,
                             QStringList *missing = nullptr);

    int size() const override { return int(m_labels.size()); }
    void setLamp(int index, Lamp lamp) override;

    QLabel *at(int index) const;

private:
    std::vector<QLabel *> m_labels;
};

} // namespace vortan
