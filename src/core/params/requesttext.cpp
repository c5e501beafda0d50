#include "params/requesttext.h"

#include "modbus/frames.h"

namespace vortan
{

namespace
{

QString commandName(int word)
{
    switch (word) {
    case 0xCBD0:
        return QStringLiteral("Сброс аварий");
    case 0xF1A5:
        return QStringLiteral("Уст. высший приоритет");
    case 0xAD5E:
        return QStringLiteral("Уст. пр. завершена");
    default:
        return QStringLiteral("слово %1").arg(word, 4, 16, QLatin1Char('0')).toUpper();
    }
}

int byteAt(const QByteArray &f, int i)
{
    return i >= 0 && i < f.size() ? quint8(f.at(i)) : -1;
}

} // namespace

QString DescribeRequest(const QByteArray &frame, const ParamTable &table)
{
    const int function = byteAt(frame, 1);
    const int hi = byteAt(frame, 2);
    const int lo = byteAt(frame, 3);
    const int n = byteAt(frame, 4);
    const int address = hi < 0 || lo < 0 ? -1 : hi * 256 + lo;
    switch (function) {
    case -1:
        return QStringLiteral("Нет запроса");
    case FnReadInput:
        return QStringLiteral("Чтение состояния");
    case FnReadWrite:
        return QStringLiteral("Запись управления");
    case FnWriteSingle: {
        const int word = byteAt(frame, 4) < 0 || byteAt(frame, 5) < 0
                             ? -1
                             : byteAt(frame, 4) * 256 + byteAt(frame, 5);
        return word < 0 ? QStringLiteral("Команда")
                        : QStringLiteral("Команда: ") + commandName(word);
    }
    case FnParamRead:
    case FnParamWrite: {
        const bool read = function == FnParamRead;
        if (address < 0 || n <= 0)
            return read ? QStringLiteral("Чтение параметров") : QStringLiteral("Запись параметров");
        const int index = table.FindParamByAddress(address);
        if (!read && index != ParamTable::NotFound && table.Width(index) == n)
            return QStringLiteral("Запись параметра %1").arg(index);
        return (read ? QStringLiteral("Чтение параметров %1..%2")
                     : QStringLiteral("Запись параметров %1..%2"))
            .arg(address)
            .arg(address + n - 1);
    }
    default:
        return QStringLiteral("Функция %1").arg(function);
    }
}

} // namespace vortan
