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
    }
    return QString();
}

QString TraceLine(const ExchangeRecord &r)
{
    const QString time =
        QDateTime::fromMSecsSinceEpoch(r.msecsSinceEpoch).toString(Qt::ISODateWithMs);
    const auto hexOf = [](const QByteArray &b) {
        return b.isEmpty() ? QStringLiteral("-") : QString::fromLatin1(b.toHex(' ').toUpper());
    };
    return time + QLatin1Char('\t') + hexOf(r.request) + QLatin1Char('\t') + hexOf(r.reply) +
           QLatin1Char('\t') + VerdictWord(r.verdict, r.exceptionCode()) +
           (r.repeat ? QStringLiteral("\trepeat") : QStringLiteral("\t-"));
}

} // namespace vortan
