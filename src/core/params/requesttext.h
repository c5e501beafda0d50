#pragma once

#include "params/paramtable.h"

#include <QByteArray>
#include <QString>

namespace vortan
{

// What a request frame asks of the controller, in the engineer's terms ("Чтение состояния",
// "Команда: Сброс аварий", "Чтение параметров 0..48", "Запись параметра 41"). Any bytes are
// accepted; what cannot be a request of ours is described by its function code.
QString DescribeRequest(const QByteArray &frame, const ParamTable &table);

} // namespace vortan
