#include "journal/eventjournal.h"

#include "modbus/frames.h"
#include "params/paramtable.h"
#include "status/commands.h"

#include <QDateTime>

#include <utility>

namespace vortan
{

namespace
{

struct Lamp {
    JournalGroup group;
    QString caption;
};

QString Caption(const char *name, int bit)
{
    return *name ? QString::fromUtf8(name) : EventJournal::unnamedLamp(bit);
}

// Every lamp bit the journal follows, in the order rows are written.
const std::vector<Lamp> &Lamps()
{
    static const std::vector<Lamp> lamps = [] {
        std::vector<Lamp> l;
        for (JournalGroup g : {JournalGroup::Alarm, JournalGroup::Warning}) {
            for (int i = 0; i < AlarmLamps; ++i)
                l.push_back({g, Caption(AlarmName(i), i)});
            for (int i = 0; i < Alarm1Lamps; ++i)
                l.push_back({g, Caption(Alarm1Name(i), i)});
        }
        for (int i = 0; i < ControlFlagLamps; ++i)
            l.push_back({JournalGroup::Flags, QString::fromUtf8(ControlFlagName(i))});
        l.push_back({JournalGroup::Flags,
                     QStringLiteral("На шине уже есть устройство(а) с тем же приоритетом")});
        for (int i = 0; i < DiscreteInputLamps; ++i)
            l.push_back({JournalGroup::Inputs, QString::fromUtf8(DiscreteInputName(i))});
        return l;
    }();
    return lamps;
}

bool Bit(quint32 word, int bit)
{
    return (word >> bit) & 1U;
}

std::vector<bool> LampBits(const StatusSnapshot &s)
{
    std::vector<bool> on;
    on.reserve(Lamps().size());
    using Pair = std::pair<quint32, quint32>;
    for (const Pair &words : {Pair{s.alarms, s.alarms1}, Pair{s.warnings, s.warnings1}}) {
        const auto &[word, word1] = words;
        for (int i = 0; i < AlarmLamps; ++i)
            on.push_back(Bit(word, i));
        for (int i = 0; i < Alarm1Lamps; ++i)
            on.push_back(Bit(word1, i));
    }
    for (int i = 0; i < ControlFlagLamps; ++i)
        on.push_back(s.flagOn(i));
    on.push_back(s.nodeConflict);
    for (int i = 0; i < DiscreteInputLamps; ++i)
        on.push_back(s.inputOn(i));
    return on;
}

std::array<quint32, 7> LampWords(const StatusSnapshot &s)
{
    return {s.alarms,
            s.alarms1,
            s.warnings,
            s.warnings1,
            s.controlFlags,
            s.discreteInputs,
            quint32(s.nodeConflict)};
}

// A write of the command register: the operator's buttons and the priority acknowledgement.
bool IsCommand(const QByteArray &request)
{
    return request.size() >= 6 && quint8(request.at(1)) == FnWriteSingle &&
           quint8(request.at(2)) * 256 + quint8(request.at(3)) == CommandRegister;
}

QString CommandSignal(const QByteArray &request)
{
    return CommandCaption(quint16(quint8(request.at(4)) * 256 + quint8(request.at(5))));
}

} // namespace

EventJournal::EventJournal(Clock clock, QObject *parent)
    : QObject(parent), m_clock(std::move(clock))
{
    if (!m_clock)
        m_clock = [] { return QDateTime::currentMSecsSinceEpoch(); };
}

QString EventJournal::unnamedLamp(int bit)
{
    return QStringLiteral("Без названия (бит %1)").arg(bit);
}

void EventJournal::add(qint64 msecs, const QString &event, JournalGroup group,
                       const QString &signal, bool firstOut)
{
    emit added(JournalEvent{msecs, event, group, signal, firstOut});
}

void EventJournal::observeStatus(const StatusSnapshot &snapshot)
{
    const qint64 now = m_clock();
    // A decoded status block is a good reply; its rows come after the link's.
    restoreLink(now);
    const std::array<quint32, 7> words = LampWords(snapshot);
    if (!m_lamps.empty() && words == m_words)
        return;
    m_words = words;
    const std::vector<bool> on = LampBits(snapshot);
    const std::vector<Lamp> &lamps = Lamps();
    const bool first = m_lamps.empty();
    bool firstOutFree = !first && m_quietSeen;
    bool anyAlarm = false;
    for (size_t i = 0; i < on.size(); ++i) {
        const bool alarm = lamps[i].group == JournalGroup::Alarm;
        anyAlarm = anyAlarm || (alarm && on[i]);
        const bool was = first ? false : bool(m_lamps[i]);
        if (on[i] == was)
            continue;
        const bool firstOut = alarm && on[i] && firstOutFree;
        firstOutFree = firstOutFree && !firstOut;
        add(now, on[i] ? QStringLiteral("появилось") : QStringLiteral("исчезло"), lamps[i].group,
            lamps[i].caption, firstOut);
    }
    m_lamps = on;
    m_quietSeen = !anyAlarm;
}

void EventJournal::restoreLink(qint64 msecs)
{
    if (!m_linkLost)
        return;
    m_linkLost = false;
    add(msecs, QStringLiteral("восстановлена"), JournalGroup::Link,
        QStringLiteral("Связь с контроллером"));
}

void EventJournal::commandUnanswered(qint64 msecs)
{
    if (!m_command.isEmpty() && !m_commandToldUnanswered)
        add(msecs, QStringLiteral("нет ответа"), JournalGroup::Command, CommandSignal(m_command));
    m_commandToldUnanswered = true;
}

void EventJournal::exchanged(const ExchangeRecord &record)
{
    // A late frame set aside answers nothing in flight.
    if (record.request.isEmpty() && !record.idle())
        return;
    const qint64 at = record.msecsSinceEpoch;
    const bool good = record.verdict == Verdict::Good;

    // The command waiting for its answer is given up once anything else takes the line.
    if (!m_command.isEmpty() && !(record.repeat && record.request == m_command)) {
        commandUnanswered(at);
        m_command.clear();
    }

    if (good) {
        m_goodAt = at;
        restoreLink(at);
    } else {
        if (m_goodAt < 0)
            m_goodAt = at;
        if (!m_linkLost && at - m_goodAt >= LinkLostMs) {
            m_linkLost = true;
            add(at, QStringLiteral("потеряна"), JournalGroup::Link,
                QStringLiteral("Связь с контроллером"));
            commandUnanswered(at);
            // What is on when the link comes back is listed afresh.
            m_lamps.clear();
        }
    }

    if (!IsCommand(record.request))
        return;
    const QString signal = CommandSignal(record.request);
    if (!record.repeat)
        add(at, QStringLiteral("отправлена"), JournalGroup::Command, signal);
    if (good) {
        add(at, QStringLiteral("принята"), JournalGroup::Command, signal);
    } else if (record.verdict == Verdict::Exception) {
        const int code = record.reply.size() > 2 ? record.exceptionCode() : -1;
        add(at, QStringLiteral("отклонена, код %1").arg(code), JournalGroup::Command, signal);
    } else {
        // Sent again on the next ticks until answered; the first sending is the one that waits.
        if (m_command.isEmpty()) {
            m_command = record.request;
            m_commandToldUnanswered = false;
        }
        return;
    }
    m_command.clear();
}

void EventJournal::paramWritten(const QString &caption, const QString &oldText,
                                const QString &newText)
{
    add(m_clock(), QStringLiteral("записан: %1 → %2").arg(oldText.trimmed(), newText.trimmed()),
        JournalGroup::Params, caption);
}

void EventJournal::paramWritten(int index, const QString &oldText, const QString &newText)
{
    static const ParamTable table;
    const QString caption = ParamTable::isValidIndex(index)
                                ? table.caption(index)
                                : QStringLiteral("Параметр %1").arg(index);
    paramWritten(caption, oldText, newText);
}

} // namespace vortan
