#include "params/paramtransfer.h"

#include "format/formatting.h"
#include "modbus/exchangecycle.h"
#include "modbus/frames.h"
#include "modbus/requestqueue.h"

#include <QRegularExpression>

#include <cmath>

namespace vortan
{

namespace
{

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool isHexDigit(QChar c)
{
    const QChar l = c.toLower();
    return isAsciiDigit(c) || (l >= QLatin1Char('a') && l <= QLatin1Char('f'));
}

// A leading number as ParseNumber finds one, after its comma and percent handling.
bool holdsNumber(const QString &text)
{
    QString t = text;
    const int comma = t.indexOf(QLatin1Char(','));
    const int percent = t.indexOf(QLatin1Char('%'));
    if (comma >= 0)
        t[comma] = QLatin1Char('.');
    if (percent >= 0)
        t.truncate(percent);

    QString s;
    s.reserve(t.size());
    for (QChar c : std::as_const(t)) {
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t') && c != QLatin1Char('\n'))
            s.append(c);
    }

    if (s.startsWith(QLatin1String("&H"), Qt::CaseInsensitive))
        return s.size() > 2 && isHexDigit(s.at(2));

    int p = 0;
    if (p < s.size() && (s.at(p) == QLatin1Char('+') || s.at(p) == QLatin1Char('-')))
        ++p;
    if (p < s.size() && isAsciiDigit(s.at(p)))
        return true;
    return p + 1 < s.size() && s.at(p) == QLatin1Char('.') && isAsciiDigit(s.at(p + 1));
}

// Header bytes of a function-100/101 reply before the data: address, function, address hi,
// address lo, count.
constexpr int ReplyDataStart = 5;
constexpr int CrcBytes = 2;

} // namespace

ParamText ParseParamText(const ParamTable &table, int index, const QString &text)
{
    ParamText result;
    if (!ParamTable::isValidIndex(index)) {
        result.reason = QStringLiteral("нет такого параметра");
        return result;
    }
    result.holdsNumber = holdsNumber(text);
    const double scale = table.Scale(index);
    const qint32 maxRaw = table.maxRaw(index);
    result.raw = ParseScaledClamped(text, 0, maxRaw, scale);

    static const QRegularExpression plainDecimal(QStringLiteral("^-?[0-9]+([.,][0-9]+)?$"));
    const QString trimmed = text.trimmed();
    if (!plainDecimal.match(trimmed).hasMatch()) {
        result.reason = QStringLiteral("не число («%1»)").arg(text);
        return result;
    }
    const auto shown = [scale](double raw) { return FormatScaled(raw, 2, scale, {}).trimmed(); };
    const double value = ParseNumber(trimmed);
    const double quotient = value / scale;
    const double nearest = std::round(quotient);
    if (!(nearest >= 0 && nearest <= maxRaw)) {
        result.reason =
            QStringLiteral("вне диапазона %1..%2 (%3)").arg(shown(0), shown(maxRaw), trimmed);
        return result;
    }
    // Judged as a later comparison judges it: the number the controller will show back must
    // equal the file's, so "230,5 " at 0.1 is exact whatever the binary noise of the quotient.
    if (ParseNumber(shown(nearest)) != value) {
        QStringList neighbours;
        for (const double raw : {std::floor(quotient), std::ceil(quotient)}) {
            if (raw >= 0 && raw <= maxRaw)
                neighbours << shown(raw);
        }
        neighbours.removeDuplicates();
        result.reason = QStringLiteral("%1 не кратно %2: контроллер хранит %3")
                            .arg(trimmed, shown(1), neighbours.join(QStringLiteral(" или ")));
        return result;
    }
    if (index == ParamTable::DeviceAddressIndex &&
        (nearest < ParamTable::FirstDeviceAddress || nearest > ParamTable::LastDeviceAddress)) {
        result.reason =
            QStringLiteral("адрес %1 вне %2..%3%4")
                .arg(trimmed)
                .arg(ParamTable::FirstDeviceAddress)
                .arg(ParamTable::LastDeviceAddress)
                .arg(nearest == 0 ? QStringLiteral(" (0 — широковещательный)") : QString());
        return result;
    }
    result.ok = true;
    return result;
}

TransferStatus ReadAllParams(RequestQueue &queue, const ParamTable &table)
{
    const QVector<ParamRun> runs = table.runs(RunPurpose::Read);
    if (!queue.hasRoomFor(int(runs.size()))) {
        qCWarning(lcParams) << "read-all refused: request ring full," << queue.waiting()
                            << "waiting";
        return TransferStatus::RingFull;
    }
    for (const ParamRun &run : runs)
        EnqueueParamRead(queue, run.address, run.bytes);
    return TransferStatus::Queued;
}

WriteAllResult WriteAllParams(RequestQueue &queue, const ParamTable &table,
                              const QStringList &texts)
{
    WriteAllResult result;
    QVector<qint32> raw(ParamTable::Count);
    for (int i = 0; i < ParamTable::Count; ++i) {
        const ParamText value = ParseParamText(table, i, texts.value(i));
        if (i >= texts.size() || !value.holdsNumber)
            result.emptyBoxes.append(i);
        raw[i] = value.raw;
    }
    if (!result.emptyBoxes.isEmpty()) {
        result.status = TransferStatus::NoNumber;
        return result;
    }

    const QVector<ParamRun> runs = table.runs(RunPurpose::Write);
    if (!queue.hasRoomFor(int(runs.size()) + 1)) {
        qCWarning(lcParams) << "write-all refused: request ring full," << queue.waiting()
                            << "waiting";
        result.status = TransferStatus::RingFull;
        return result;
    }

    for (const ParamRun &run : runs) {
        QByteArray data;
        data.reserve(run.bytes);
        for (int k = run.first; k <= run.last; ++k) {
            const qint32 v = raw.at(k);
            if (table.Width(k) == 2)
                data.append(char(ByteOf(v, 1)));
            data.append(char(ByteOf(v, 0)));
        }
        queue.enqueue(ParamRunWriteRequest(run.address, data));
    }
    const int dev = ParamTable::DeviceAddressIndex;
    EnqueueParamWrite(queue, table.Address(dev), raw.at(dev), table.Width(dev));
    return result;
}

TransferStatus WriteOneParam(RequestQueue &queue, const ParamTable &table, int index,
                             const QString &text)
{
    const ParamText value = ParseParamText(table, index, text);
    if (!value.holdsNumber)
        return TransferStatus::NoNumber;
    if (!queue.hasRoomFor(1))
        return TransferStatus::RingFull;
    EnqueueParamWrite(queue, table.Address(index), value.raw, table.Width(index));
    return TransferStatus::Queued;
}

QVector<ParamValue> DecodeParamReply(const RxBuffer &rx, const ParamTable &table)
{
    QVector<ParamValue> values;
    const int received = rx.count - CrcBytes; // first byte index past the data that arrived
    if (!rx.holds(0, ReplyDataStart) || received < ReplyDataStart)
        return values;
    const quint8 function = rx.byte(1);
    if (function != FnParamRead && function != FnParamWrite)
        return values;

    int k = table.FindParamByAddress(rx.RxWord(2));
    if (k == ParamTable::NotFound)
        return values;

    const int announced = rx.byte(4);
    const int end = qMin(ReplyDataStart + announced, received);
    int pos = ReplyDataStart;
    while (ParamTable::isValidIndex(k)) {
        const int w = table.Width(k);
        if (pos + w > end)
            break;
        ParamValue v;
        v.index = k;
        v.raw = rx.RxUInt(pos, w);
        v.text = FormatScaled(v.raw, 2, table.Scale(k), QString());
        values.append(v);
        pos += w;
        const int next = k + 1;
        if (!ParamTable::isValidIndex(next) ||
            table.Address(next) != table.Address(k) + table.Width(k))
            break;
        k = next;
    }
    if (pos < end)
        qCDebug(lcParams) << "parameter reply at" << rx.RxWord(2) << "carries" << end - pos
                          << "bytes beyond its run; ignored";
    return values;
}

} // namespace vortan
