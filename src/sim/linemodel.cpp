#include "sim/linemodel.h"

#include <algorithm>
#include <limits>

namespace vortan::sim
{

namespace
{

constexpr qint64 Never = std::numeric_limits<qint64>::max();
constexpr qint64 Ms = 1000000;

} // namespace

bool ParseLinePreset(const QString &name, LineSettings *line)
{
    const QString n = name.trimmed().toLower();
    LineSettings s;
    if (n == QLatin1String("usb")) {
        s.pace = true;
        s.usbLatencyMs = 16;
        s.turnaroundMs = 10;
    } else if (n == QLatin1String("slow")) {
        s.pace = true;
        s.turnaroundMs = 30;
    } else if (n == QLatin1String("echo")) {
        s.pace = true;
        s.echo = true;
    } else if (n == QLatin1String("gateway")) {
        s.gatewayDelayMs = 60;
    } else if (n != QLatin1String("ideal")) {
        return false;
    }
    *line = s;
    return true;
}

qint64 LineModel::arrival(const Piece &p, qsizetype i) const
{
    return p.burstAt >= 0 ? p.burstAt : p.start + wire(i + 1);
}

void LineModel::request(const QByteArray &bytes, qint64 now)
{
    if (bytes.isEmpty())
        return;
    // The PC's transmitter sends one write after the other.
    Request q{bytes, qMax(now, m_pcFreeAt), 0};
    q.end = q.start + wire(bytes.size());
    m_pcFreeAt = q.end;
    // Nothing that ended before now can meet this request or a later one.
    while (!m_replies.empty() && !m_replies.front().open && m_replies.front().end <= now)
        m_replies.pop_front();
    for (Reply &r : m_replies) {
        const qint64 replyEnd = r.open ? Never : r.end;
        if (!r.cut && r.start < q.end && q.start < replyEnd)
            collide(q, r);
    }
    if (m_settings.echo)
        m_stream.push_back(Piece{bytes, 0, q.start, -1, -1, false, {}});
    m_requests.push_back(q);
}

void LineModel::reply(const QByteArray &bytes, qint64 now, bool more, bool completesReply,
                      const QByteArray &intactReply)
{
    const bool continues = !m_replies.empty() && m_replies.back().open;
    if (continues && m_replies.back().cut) {
        // The rest of a broken-off frame is never sent.
        m_replies.back().open = more;
        return;
    }
    qint64 start = qMax(now, m_controllerFreeAt);
    if (!continues) {
        if (m_answeredEnd)
            start = qMax(start, *m_answeredEnd + m_settings.turnaroundMs * Ms);
        m_replies.push_back(Reply{m_nextReply++, start, start, true});
    }
    Reply &r = m_replies.back();
    r.end = start + wire(bytes.size());
    r.open = more;
    m_controllerFreeAt = r.end;
    Piece piece{bytes, 0, start, -1, r.id, completesReply, intactReply};
    if (m_settings.gatewayDelayMs >= 0)
        piece.burstAt = r.end + m_settings.gatewayDelayMs * Ms;
    m_stream.push_back(piece);
    for (Request &q : m_requests) {
        if (start < q.end && q.start < r.end)
            collide(q, r);
    }
}

void LineModel::collide(Request &request, Reply &reply)
{
    if (!request.collided) {
        request.collided = true;
        ++m_counters.collisions;
    }
    // The controller stops at the first byte it hears from another driver.
    const qint64 cut = qMax(request.start, reply.start);
    reply.cut = true;
    reply.end = qMin(reply.end, cut);
    for (Piece &p : m_stream) {
        if (p.reply != reply.id)
            continue;
        qsizetype keep = p.taken;
        while (keep < p.bytes.size() && p.start + wire(keep + 1) <= cut)
            ++keep;
        p.bytes.truncate(keep);
        p.completesReply = false;
        p.intactReply.clear();
    }
}

std::optional<size_t> LineModel::nextByte() const
{
    std::optional<size_t> next;
    qint64 at = Never;
    for (size_t i = 0; i < m_stream.size(); ++i) {
        const Piece &p = m_stream[i];
        if (p.taken < p.bytes.size() && arrival(p, p.taken) < at) {
            at = arrival(p, p.taken);
            next = i;
        }
    }
    return next;
}

std::optional<qint64> LineModel::usbDeadline() const
{
    if (m_usbBuffer.isEmpty())
        return std::nullopt;
    // The latency timer runs from the last hand-over, but only while bytes wait.
    return qMax(m_usbFirst, m_usbLastHandOver.value_or(m_usbFirst)) + m_settings.usbLatencyMs * Ms;
}

void LineModel::handOver(const QByteArray &bytes, Output &out)
{
    out.toClient += bytes;
    m_handed += quint64(bytes.size());
    while (!m_marks.empty() && m_marks.front().position <= m_handed) {
        ++out.replies;
        if (!m_marks.front().intactReply.isEmpty())
            out.intact.append(m_marks.front().intactReply);
        m_marks.pop_front();
    }
}

LineModel::Output LineModel::advance(qint64 now)
{
    Output out;
    while (!m_requests.empty() && m_requests.front().end <= now) {
        if (!m_requests.front().collided) {
            out.toServer += m_requests.front().bytes;
            m_answeredEnd = m_requests.front().end;
        }
        m_requests.pop_front();
    }
    const bool usb = m_settings.usbLatencyMs >= 0;
    for (;;) {
        const std::optional<size_t> next = nextByte();
        const qint64 byteAt = next ? arrival(m_stream[*next], m_stream[*next].taken) : Never;
        const qint64 deadline = usb ? usbDeadline().value_or(Never) : Never;
        if (qMin(byteAt, deadline) > now)
            break;
        if (deadline <= byteAt) {
            handOver(m_usbBuffer, out);
            m_usbBuffer.clear();
            m_usbLastHandOver = deadline;
            continue;
        }
        Piece &p = m_stream[*next];
        const char byte = p.bytes.at(p.taken++);
        ++m_arrived;
        if (p.taken == p.bytes.size() && p.completesReply)
            m_marks.push_back(Mark{m_arrived, p.intactReply});
        if (!usb) {
            handOver(QByteArray(1, byte), out);
            continue;
        }
        if (m_usbBuffer.isEmpty())
            m_usbFirst = byteAt;
        m_usbBuffer.append(byte);
        if (m_usbBuffer.size() == UsbPacketBytes) {
            handOver(m_usbBuffer, out);
            m_usbBuffer.clear();
            m_usbLastHandOver = byteAt;
        }
    }
    m_stream.erase(std::remove_if(m_stream.begin(), m_stream.end(),
                                  [](const Piece &p) { return p.taken == p.bytes.size(); }),
                   m_stream.end());
    return out;
}

std::optional<qint64> LineModel::nextEvent() const
{
    qint64 next = Never;
    if (!m_requests.empty())
        next = m_requests.front().end;
    if (const std::optional<size_t> i = nextByte())
        next = qMin(next, arrival(m_stream[*i], m_stream[*i].taken));
    if (m_settings.usbLatencyMs >= 0)
        next = qMin(next, usbDeadline().value_or(Never));
    return next == Never ? std::nullopt : std::optional<qint64>(next);
}

void LineModel::clear()
{
    m_requests.clear();
    m_replies.clear();
    m_stream.clear();
    m_marks.clear();
    m_usbBuffer.clear();
    m_handed = m_arrived;
    m_answeredEnd.reset();
}

} // namespace vortan::sim
