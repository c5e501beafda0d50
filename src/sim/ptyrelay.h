#pragma once

#include "sim/faultplan.h"
#include "sim/linemodel.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <deque>

class QSocketNotifier;

namespace vortan::sim
{

// Carries bytes between the Modbus server's pseudo-terminal and the client's line, and is where
// the faults are applied: on the reply direction, frame by frame.
//
// The client's line is either a second pseudo-terminal, whose other end is what the service
// program opens, or an existing serial device. A pseudo-terminal keeps its settings and its
// exclusive-open flag for as long as anyone holds it, so a client that was killed would leave
// its successor facing a terminal that refuses the even-parity request (Linux rejects a
// tcsetattr whose only change is the parity, which a pseudo-terminal cannot keep) or refuses
// to open at all. The relay therefore holds the client's end open itself and keeps the
// odd-parity flag set on it (meaningless on a pseudo-terminal, but it turns every 8E1 request
// into a real change), and when the last client has gone it clears the exclusive flag and drops
// replies nobody collected.
//
// With a line model, both directions pass through it after the faults: requests reach the
// server once they have crossed the line, replies reach the client as the line and its
// converter deliver them.
class PtyRelay : public QObject
{
    Q_OBJECT
public:
    PtyRelay(FaultPlan &plan, SimCounters &counters, const LineSettings &line = {},
             QObject *parent = nullptr);
    ~PtyRelay() override;

    bool openPseudoTerminalPair(QString *error);
    bool openDevice(const QString &path, QString *error);

    // The device the Modbus server opens.
    QString serverPortPath() const { return m_serverPath; }
    // The device the client opens.
    QString clientPath() const { return m_clientPath; }

    // Replies older than this with no end in sight are passed on as they are.
    static constexpr int PartialReplyMs = 50;

signals:
    void failed(const QString &reason);
    // A whole reply frame, as the server gave it, has gone to the client; not emitted for a
    // reply sent with a broken CRC.
    void replyDelivered(const QByteArray &frame);

private:
    bool openServerSide(QString *error);
    void watchClientSide();
    void readFromServer();
    void readFromClient();
    void flushToServer();
    void flushToClient();
    void takeReplies(bool force);
    void scheduleReply(QByteArray frame);
    void queue(const QByteArray &bytes, qint64 due, bool completesReply,
               const QByteArray &intactReply = {}, bool more = false);
    void sendDue();
    void runLine();
    void readClientEvents();
    void forgetClient();
    void keepClientSideUsable();

    FaultPlan &m_plan;
    SimCounters &m_counters;

    int m_serverMaster = -1;
    int m_serverSlave = -1;
    int m_clientFd = -1; // pseudo-terminal master or the serial device
    int m_keeperFd = -1; // our own hold on the client's pseudo-terminal
    int m_inotifyFd = -1;
    bool m_clientIsDevice = false;
    // Other holders of the client's pseudo-terminal; -1 when they cannot be counted (a device,
    // no inotify), which keeps every reply flowing.
    int m_clientOpens = -1;
    QString m_serverPath;
    QString m_clientPath;

    QSocketNotifier *m_serverRead = nullptr;
    QSocketNotifier *m_serverWrite = nullptr;
    QSocketNotifier *m_clientRead = nullptr;
    QSocketNotifier *m_clientWrite = nullptr;
    QSocketNotifier *m_clientEvents = nullptr;

    QByteArray m_fromServer;
    QByteArray m_toServer;
    QByteArray m_toClient;
    struct Pending {
        QByteArray bytes;
        qint64 due;
        bool completesReply;
        QByteArray intactReply; // the whole frame, on the last piece of an unaltered reply
        bool more;              // the frame goes on in the next piece
    };
    std::deque<Pending> m_pending;
    LineModel m_line;

    QElapsedTimer m_clock;
    QTimer m_dueTimer;
    QTimer m_lineTimer;
    QTimer m_partialTimer;
    QTimer m_armTimer;
    QTimer m_clientRetryTimer;
};

} // namespace vortan::sim
