#include "sim/simserver.h"

#include <QLoggingCategory>
#include <QModbusDataUnitMap>

namespace vortan::sim
{

Q_LOGGING_CATEGORY(lcSim, "vortan.sim")

namespace
{

QModbusExceptionResponse refuse(const QModbusPdu &request, QModbusPdu::ExceptionCode code)
{
    return QModbusExceptionResponse(request.functionCode(), code);
}

quint16 wordAt(const QByteArray &data, int i)
{
    return quint16(quint8(data.at(i)) << 8 | quint8(data.at(i + 1)));
}

int paramReadRequestSize(const QModbusRequest &)
{
    return 3;
}

// Address hi, lo, count n, then n data bytes; unknown until the count byte is in.
int paramWriteRequestSize(const QModbusRequest &request)
{
    if (request.dataSize() < 3)
        return -1;
    return 3 + quint8(request.data().at(2));
}

} // namespace

SimServer::SimServer(SimModel &model, ParamMemory &memory, SimCounters &counters, QObject *parent)
    : QModbusRtuSerialServer(parent), m_model(model), m_memory(memory), m_counters(counters)
{
    QModbusDataUnitMap map;
    map.insert(QModbusDataUnit::InputRegisters,
               QModbusDataUnit(QModbusDataUnit::InputRegisters, StatusStart, Status::Count));
    map.insert(QModbusDataUnit::HoldingRegisters,
               QModbusDataUnit(QModbusDataUnit::HoldingRegisters, CommandRegister,
                               PriorityCodeRegister - CommandRegister + 1));
    setMap(map);
}

void SimServer::RegisterControllerFunctions()
{
    QModbusRequest::registerDataSizeCalculator(QModbusPdu::FunctionCode(ParamReadFunction),
                                               &paramReadRequestSize);
    QModbusRequest::registerDataSizeCalculator(QModbusPdu::FunctionCode(ParamWriteFunction),
                                               &paramWriteRequestSize);
}

QModbusResponse SimServer::processRequest(const QModbusPdu &request)
{
    const int fc = request.functionCode();
    ++m_counters.requests[fc];

    for (int i = 0; i < m_once.size(); ++i) {
        if (m_once[i].functionCode == fc) {
            const int code = m_once.takeAt(i).code;
            ++m_counters.exception;
            return refuse(request, QModbusPdu::ExceptionCode(code));
        }
    }
    for (const ExceptionRule &rule : std::as_const(m_standing)) {
        if (rule.functionCode == fc) {
            ++m_counters.exception;
            return refuse(request, QModbusPdu::ExceptionCode(rule.code));
        }
    }

    switch (fc) {
    case QModbusPdu::ReadInputRegisters:
        return readStatus(request);
    case QModbusPdu::WriteSingleRegister:
        return writeCommand(request);
    case QModbusPdu::ReadWriteMultipleRegisters:
        return exchangeControlState(request);
    case ParamReadFunction:
    case ParamWriteFunction:
        // Through Qt's own dispatch, which hands functions it does not know to
        // processPrivateRequest.
        return QModbusRtuSerialServer::processRequest(request);
    default:
        return refuse(request, QModbusPdu::IllegalFunction);
    }
}

QModbusResponse SimServer::readStatus(const QModbusPdu &request)
{
    const QByteArray data = request.data();
    if (data.size() == 4) {
        const int start = wordAt(data, 0);
        const int count = wordAt(data, 2);
        // Only a read Qt will answer moves the model on.
        if (count >= 1 && count <= 125 && start >= StatusStart &&
            start + count <= StatusStart + Status::Count) {
            const StatusBlock block = m_model.nextStatusBlock();
            setData(QModbusDataUnit(QModbusDataUnit::InputRegisters, StatusStart,
                                    QList<quint16>(block.begin(), block.end())));
            emit statusBlockServed(m_model.reads(), block);
        }
    }
    return QModbusRtuSerialServer::processRequest(request);
}

QModbusResponse SimServer::writeCommand(const QModbusPdu &request)
{
    const QByteArray data = request.data();
    if (data.size() == 4 && wordAt(data, 0) != CommandRegister)
        return refuse(request, QModbusPdu::IllegalDataAddress);
    const QModbusResponse response = QModbusRtuSerialServer::processRequest(request);
    // Every write counts, also a repeat of the same word, so the command is taken from the
    // request rather than from a change of the register.
    if (!response.isException() && data.size() == 4) {
        m_model.applyCommand(wordAt(data, 2));
        publishPriorityCode();
    }
    return response;
}

QModbusResponse SimServer::exchangeControlState(const QModbusPdu &request)
{
    const QByteArray bytes = request.data();
    if (bytes.size() >= 8) {
        const int readStart = wordAt(bytes, 0);
        const int readCount = wordAt(bytes, 2);
        const int writeStart = wordAt(bytes, 4);
        const int writeCount = wordAt(bytes, 6);
        // Counts are Qt's to refuse (illegal data value comes before illegal address).
        const bool countsPlausible =
            readCount >= 1 && readCount <= 125 && writeCount >= 1 && writeCount <= 121;
        const bool readOk = readStart == PriorityCodeRegister && readCount == 1;
        const bool writeOk =
            writeStart >= ControlStateFirst && writeStart + writeCount - 1 <= ControlStateLast;
        if (countsPlausible && (!readOk || !writeOk))
            return refuse(request, QModbusPdu::IllegalDataAddress);
    }
    publishPriorityCode();
    const QModbusResponse response = QModbusRtuSerialServer::processRequest(request);
    if (!response.isException()) {
        QModbusDataUnit unit(QModbusDataUnit::HoldingRegisters, ControlStateFirst,
                             ControlStateLast - ControlStateFirst + 1);
        if (data(&unit)) {
            OperatorInputs in;
            in.control = unit.value(0);
            in.sections = unit.value(1);
            in.bdn = unit.value(2);
            in.flr = unit.value(3);
            in.iflr = unit.value(4);
            m_model.setOperatorInputs(in);
        }
    }
    return response;
}

void SimServer::publishPriorityCode()
{
    setData(QModbusDataUnit::HoldingRegisters, PriorityCodeRegister, m_model.priorityCode());
}

QModbusResponse SimServer::processPrivateRequest(const QModbusPdu &request)
{
    switch (int(request.functionCode())) {
    case ParamReadFunction:
        return readParams(request);
    case ParamWriteFunction:
        return writeParams(request);
    default:
        return QModbusRtuSerialServer::processPrivateRequest(request);
    }
}

namespace
{

QModbusPdu::ExceptionCode exceptionFor(ParamStatus status)
{
    return status == ParamStatus::BadCount ? QModbusPdu::IllegalDataValue
                                           : QModbusPdu::IllegalDataAddress;
}

} // namespace

QModbusResponse SimServer::readParams(const QModbusPdu &request)
{
    const QByteArray data = request.data();
    if (data.size() != 3)
        return refuse(request, QModbusPdu::IllegalDataValue);
    const int address = wordAt(data, 0);
    const int count = quint8(data.at(2));
    const ParamStatus status = ParamMemory::check(address, count);
    if (status != ParamStatus::Ok)
        return refuse(request, exceptionFor(status));
    return QModbusResponse(request.functionCode(), data + m_memory.read(address, count));
}

QModbusResponse SimServer::writeParams(const QModbusPdu &request)
{
    const QByteArray data = request.data();
    if (data.size() < 3 || data.size() != 3 + quint8(data.at(2)))
        return refuse(request, QModbusPdu::IllegalDataValue);
    const int address = wordAt(data, 0);
    const ParamStatus status = m_memory.write(address, data.mid(3));
    if (status != ParamStatus::Ok)
        return refuse(request, exceptionFor(status));
    qCDebug(lcSim) << "parameter memory written at" << address << "count" << data.size() - 3;
    emit memoryWritten();
    if (address <= ParamAddress::DeviceAddress &&
        address + data.size() - 3 > ParamAddress::DeviceAddress)
        emit deviceAddressWritten(m_memory.value(ParamAddress::DeviceAddress, 1));
    return QModbusResponse(request.functionCode(), data);
}

} // namespace vortan::sim
