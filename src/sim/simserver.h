#pragma once

#include "sim/faultplan.h"
#include "sim/parammemory.h"
#include "sim/simmodel.h"
#include "sim/simoptions.h"

#include <QList>
#include <QModbusRtuSerialServer>

namespace vortan::sim
{

constexpr quint16 StatusStart = 2000;
constexpr quint16 CommandRegister = 4001;
constexpr quint16 ControlStateFirst = 4002;
constexpr quint16 ControlStateLast = 4006;
constexpr quint16 PriorityCodeRegister = 4010;
constexpr int ParamReadFunction = 100;
constexpr int ParamWriteFunction = 101;

// The controller's side of the line, on Qt's own Modbus RTU server so that the service
// program's frame code is checked against an implementation it shares nothing with.
// Functions 4 (status block), 6 (command register), 23 (control state and priority code) and
// the controller's own 100/101 (parameter memory); every other function is refused.
class SimServer : public QModbusRtuSerialServer
{
    Q_OBJECT
public:
    SimServer(SimModel &model, ParamMemory &memory, SimCounters &counters,
              QObject *parent = nullptr);

    // Tells Qt's frame reader how long requests of functions 100 and 101 are; without it they
    // are discarded as malformed. Process-wide, idempotent.
    static void RegisterControllerFunctions();

    void addStandingException(const ExceptionRule &rule) { m_standing.append(rule); }
    // For the next request of that function only.
    void armException(const ExceptionRule &rule) { m_once.append(rule); }

    // The request handling without the serial line around it.
    QModbusResponse serve(const QModbusRequest &request) { return processRequest(request); }

signals:
    void memoryWritten();
    // The controller's own device address (parameter memory 55) was written.
    void deviceAddressWritten(int address);
    // A status read of the model (numbered from 1) is about to be answered with this block.
    void statusBlockServed(quint32 read, const vortan::sim::StatusBlock &block);

protected:
    QModbusResponse processRequest(const QModbusPdu &request) override;
    QModbusResponse processPrivateRequest(const QModbusPdu &request) override;

private:
    QModbusResponse readStatus(const QModbusPdu &request);
    QModbusResponse writeCommand(const QModbusPdu &request);
    QModbusResponse exchangeControlState(const QModbusPdu &request);
    QModbusResponse readParams(const QModbusPdu &request);
    QModbusResponse writeParams(const QModbusPdu &request);
    void publishPriorityCode();

    SimModel &m_model;
    ParamMemory &m_memory;
    SimCounters &m_counters;
    QList<ExceptionRule> m_standing;
    QList<ExceptionRule> m_once;
};

} // namespace vortan::sim
