#include "modbus/exchangerecord.h"

#include <QDateTime>

namespace vortan
{

QString VerdictWord(Verdict verdict, int exceptionCode)
{
    switch (verdict) {
    case Verdict::Good:
        return QStringLiteral("good");
    case Verdict::BadCrc:
        return QStringLiteral("crc");
    case Verdict::NoReply:
        return QStringLiteral("noreply");
    case Verdict::Short:
        return QStringLiteral("short");
    case Verdict::Exception:
        return QStringLiteral("exception:%1").arg(exceptionCode);
    case Verdict::Stray:
        return QStringLiteral("stray");
    }
    return QString();
}

QString TraceLine(const ExchangeRecord &r)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(r.msecsSinceEpoch);
    const QString time = local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
    const auto hexOf = [](const QByteArray &b) {
        return b.isEmpty() ? QStringLiteral("-") : QString::fromLatin1(b.toHex(' ').toUpper());
    };
    const QString replyTime =
        r.replyTimeUs < 0 ? QStringLiteral("-") : QString::number(r.replyTimeUs / 1000.0, 'f', 3);
    return time + QLatin1Char('\t') + hexOf(r.request) + QLatin1Char('\t') + hexOf(r.reply) +
           QLatin1Char('\t') + VerdictWord(r.verdict, r.exceptionCode()) + QLatin1Char('\t') +
           replyTime + (r.repeat ? QStringLiteral("\trepeat") : QStringLiteral("\t-"));
}

QString TraceHeader()
{
    return QStringLiteral("# время\tзапрос\tответ\tитог\tвремя ответа, мс\tповтор");
}

} // namespace vortan
