#pragma once

#include "journal/journalevent.h"
#include "modbus/exchangerecord.h"
#include "status/statussnapshot.h"

#include <QByteArray>
#include <QObject>

#include <array>
#include <functional>
#include <vector>

namespace vortan
{

// Turns what the controller reports into the order of events an engineer reads after a trip:
// every indicator lamp that lights or goes out, the link lost and back, each operator command
// and whether the controller took it, parameters written.
//
// Status: each snapshot is compared with the one before; one row per changed lamp bit, in lamp
// order: alarm bits of lbl_fl and lbl_fl1 ("Авария"), their warning bits ("Неисправность"),
// lbl_cf and lbl_node_cnflct ("Флаги"), lbl_eds ("Входы"). The alarm and warning bits of a lamp
// are told apart although the window shows only the stronger colour. The first snapshot, and the
// first after the link came back, lists what is on as "появилось". The first alarm that appears
// after a snapshot with no alarm at all is the first-out one; the very first snapshot never has
// one, the quiet time before it was not seen.
//
// Link: lost after a second of exchanges without a good reply (an idle cycle, port closed, counts
// too), restored by the next good reply.
//
// Commands (function 6 to register 4001): "отправлена" when it first goes out, then "принята"
// (a good reply), "отклонена, код N" (an exception) or, once, "нет ответа" when it is given up,
// replaced by another request or the link is lost while it waits.
class EventJournal : public QObject, public ExchangeObserver
{
    Q_OBJECT
public:
    using Clock = std::function<qint64()>; // milliseconds since the epoch
    static constexpr qint64 LinkLostMs = 1000;

    explicit EventJournal(Clock clock = {}, QObject *parent = nullptr);

    void observeStatus(const StatusSnapshot &snapshot);
    void exchanged(const ExchangeRecord &record) override;
    bool linkLost() const { return m_linkLost; }

    // The caption of a lamp that has none on the window ("-"): "Без названия (бит 19)".
    static QString unnamedLamp(int bit);

public slots:
    // Event text "записан: 50 → 55" (old and new as the window shows them, blanks trimmed).
    void paramWritten(const QString &caption, const QString &oldText, const QString &newText);
    // The same for parameter `index` of the parameter table, under its caption.
    void paramWritten(int index, const QString &oldText, const QString &newText);

signals:
    void added(const JournalEvent &event);

private:
    void add(qint64 msecs, const QString &event, JournalGroup group, const QString &signal,
             bool firstOut = false);
    void restoreLink(qint64 msecs);
    void commandUnanswered(qint64 msecs);

    Clock m_clock;
    std::vector<bool> m_lamps; // lamp bits of the last snapshot; empty: none seen since start
    bool m_quietSeen = false;  // the last snapshot had no alarm bit set
    // The words of the last snapshot the lamps are read from: a block that changes none of them
    // (nearly all) costs one comparison.
    std::array<quint32, 7> m_words{};
    bool m_linkLost = false;
    qint64 m_goodAt = -1; // last good reply, or the first exchange seen
    QByteArray m_command; // a command sent and not yet answered
    bool m_commandToldUnanswered = false;
};

} // namespace vortan

Q_DECLARE_METATYPE(vortan::JournalEvent)
