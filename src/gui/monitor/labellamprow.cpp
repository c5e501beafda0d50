#include "monitor/labellamprow.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPalette>

namespace vortan
{

QColor LampColour(Lamp lamp)
{
    switch (lamp) {
    case Lamp::Green:
        return QColor(0, 255, 0);
    case Lamp::Red:
        return QColor(255, 0, 0);
    case Lamp::Yellow:
        return QColor(255, 255, 0);
    case Lamp::Default:
        break;
    }
    return QGuiApplication::palette().color(QPalette::Button);
}

LabelLampRow::LabelLampRow(std::vector<QLabel *> labels) : m_labels(std::move(labels))
{
    for (QLabel *label : m_labels) {
        if (label)
            label->setAutoFillBackground(true);
    }
}

LabelLampRow LabelLampRow::find(const QWidget *frmMain, const char *name, int count,
                                QStringList *missing)
{
    std::vector<QLabel *> labels;
    labels.reserve(size_t(qMax(0, count)));
    for (int i = 0; i < count; ++i) {
        const QString member = QString::fromLatin1(name) + QLatin1Char('_') + QString::number(i);
        QLabel *label = frmMain ? frmMain->findChild<QLabel *>(member) : nullptr;
        if (!label && missing)
            *missing << member;
        labels.push_back(label);
    }
    return LabelLampRow(std::move(labels));
}

void LabelLampRow::setLamp(int index, Lamp lamp)
{
    QLabel *label = at(index);
    if (!label)
        return;
    const QColor colour = LampColour(lamp);
    if (label->palette().color(QPalette::Window) == colour)
        return;
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, colour);
    label->setPalette(palette);
}

QLabel *LabelLampRow::at(int index) const
{
    return index >= 0 && index < size() ? m_labels[size_t(index)] : nullptr;
}

} // namespace vortan
