#pragma once

#include "params/paramfiles.h"
#include "params/paramstate.h"
#include "params/paramtable.h"
#include "params/paramtransfer.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <array>

namespace vortan
{

class RequestQueue;
struct RxBuffer;

// The controller's 111 programmable parameters as the engineer sees them: each value as text
// ("230,5 ", "-") with its state. The parameters window shows and edits the set; the command line
// reads, writes, saves, loads and compares it. A value that holds no number is never written.
class ParamSet : public QObject
{
    Q_OBJECT
public:
    explicit ParamSet(QObject *parent = nullptr);

    const ParamTable &table() const { return m_table; }
    QString text(int index) const;
    ParamState state(int index) const;
    QStringList texts() const;
    // True when every value holds a number (the set can be written or saved for a restore).
    bool isComplete() const;

    // Every value "-" and not read; the table rebuilt.
    void reset();
    void edit(int index, const QString &text);
    void setState(int index, ParamState state);
    void setAllStates(ParamState state);

    // Puts the values a function-100/101 reply carries into the set (Read). Returns how many.
    int applyReply(const RxBuffer &rx);
    // Puts decoded reply values into the set (Read).
    void apply(const QVector<ParamValue> &values);

    // Transfers queue their requests all or nothing. Writes mark what they queued as Written
    // (a refused Enter leaves the value Edited); a read leaves the states to the caller.
    TransferStatus readAll(RequestQueue &queue);
    WriteAllResult writeAll(RequestQueue &queue);
    TransferStatus writeOne(RequestQueue &queue, int index);

    // Files: save writes the 111 texts and marks them FromFile; load takes the file's values
    // (FromFile) and marks what it lacks (Missing); compare only marks.
    bool save(const QString &path);
    void load(const ParamFileSet &file);
    void compare(const ParamFileSet &file);

signals:
    // The text or state of one value changed.
    void valueChanged(int index);

private:
    void set(int index, const QString &text, ParamState state);

    ParamTable m_table;
    std::array<QString, ParamTable::Count> m_texts;
    std::array<ParamState, ParamTable::Count> m_states{};
};

} // namespace vortan
