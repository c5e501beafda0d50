#include "params/paramset.h"

#include "modbus/requestqueue.h"

namespace vortan
{

namespace
{
const QString kUnknown = QStringLiteral("-");
} // namespace

ParamSet::ParamSet(QObject *parent) : QObject(parent)
{
    m_texts.fill(kUnknown);
    m_states.fill(ParamState::NotRead);
}

QString ParamSet::text(int index) const
{
    return ParamTable::isValidIndex(index) ? m_texts[size_t(index)] : QString();
}

ParamState ParamSet::state(int index) const
{
    return ParamTable::isValidIndex(index) ? m_states[size_t(index)] : ParamState::NotRead;
}

QStringList ParamSet::texts() const
{
    QStringList list;
    list.reserve(ParamTable::Count);
    for (const QString &t : m_texts)
        list.append(t);
    return list;
}

bool ParamSet::isComplete() const
{
    for (int i = 0; i < ParamTable::Count; ++i) {
        if (!ParseParamText(m_table, i, m_texts[size_t(i)]).holdsNumber)
            return false;
    }
    return true;
}

void ParamSet::set(int index, const QString &text, ParamState state)
{
    if (!ParamTable::isValidIndex(index))
        return;
    QString &t = m_texts[size_t(index)];
    ParamState &s = m_states[size_t(index)];
    if (t == text && s == state)
        return;
    t = text;
    s = state;
    emit valueChanged(index);
}

void ParamSet::reset()
{
    m_table.BuildParamTable();
    for (int i = 0; i < ParamTable::Count; ++i)
        set(i, kUnknown, ParamState::NotRead);
}

void ParamSet::edit(int index, const QString &text)
{
    set(index, text, ParamState::Edited);
}

void ParamSet::setState(int index, ParamState state)
{
    set(index, text(index), state);
}

void ParamSet::setAllStates(ParamState state)
{
    for (int i = 0; i < ParamTable::Count; ++i)
        setState(i, state);
}

int ParamSet::applyReply(const RxBuffer &rx)
{
    const QVector<ParamValue> values = DecodeParamReply(rx, m_table);
    apply(values);
    return int(values.size());
}

void ParamSet::apply(const QVector<ParamValue> &values)
{
    for (const ParamValue &v : values)
        set(v.index, v.text, ParamState::Read);
}

TransferStatus ParamSet::readAll(RequestQueue &queue)
{
    return ReadAllParams(queue, m_table);
}

WriteAllResult ParamSet::writeAll(RequestQueue &queue)
{
    const WriteAllResult result = WriteAllParams(queue, m_table, texts());
    if (result.status == TransferStatus::Queued)
        setAllStates(ParamState::Written);
    return result;
}

TransferStatus ParamSet::writeOne(RequestQueue &queue, int index)
{
    const TransferStatus status = WriteOneParam(queue, m_table, index, text(index));
    setState(index, status == TransferStatus::Queued ? ParamState::Written : ParamState::Edited);
    return status;
}

bool ParamSet::save(const QString &path)
{
    if (!SaveParamSet(path, texts()))
        return false;
    setAllStates(ParamState::FromFile);
    return true;
}

void ParamSet::load(const ParamFileSet &file)
{
    for (int i = 0; i < ParamTable::Count; ++i) {
        if (file.present[size_t(i)])
            set(i, file.values[size_t(i)], ParamState::FromFile);
        else
            setState(i, ParamState::Missing);
    }
}

void ParamSet::compare(const ParamFileSet &file)
{
    for (int i = 0; i < ParamTable::Count; ++i) {
        setState(i, CompareParamValue(file.present[size_t(i)], file.values[size_t(i)], text(i)));
    }
}

} // namespace vortan
