#pragma once

#include "sim/simmodel.h"
#include "sim/simrandom.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <deque>
#include <map>

namespace vortan::sim
{

// What happened on the line, reported as one line of JSON when the simulator ends.
struct SimCounters {
    std::map<int, quint64> requests; // by function code, requests served at our address
    quint64 replies = 0;             // reply frames that reached the client in full
    quint64 drop = 0;
    quint64 corrupt = 0;
    quint64 split = 0;
    quint64 delay = 0;
    quint64 exception = 0;
    quint64 collisions = 0; // requests that met a reply on the bus; neither got through

    QString toJson(double seconds) const;
};

// The status block the client last received whole and with a good CRC, and the number of the
// status read (1 = the first) that produced it: what the service program shows right now.
class StatusTap
{
public:
    // Blocks served but never delivered (dropped replies, a client that went away) are
    // forgotten beyond this many.
    static constexpr int MaxUndelivered = 64;

    // The server answered status read `read` with `block`.
    void served(quint32 read, const StatusBlock &block);
    // A complete, unaltered reply frame reached the client.
    void delivered(const QByteArray &frame);

    bool hasBlock() const { return m_hasBlock; }
    const StatusBlock &block() const { return m_block; }
    // 0 while nothing was delivered, or when the block matches no read still remembered.
    quint32 read() const { return m_read; }
    // {"status":[72 registers],"read":N}; an empty list before the first block.
    QString toJson() const;

private:
    struct Served {
        quint32 read;
        StatusBlock block;
    };
    std::deque<Served> m_served;
    StatusBlock m_block{};
    bool m_hasBlock = false;
    quint32 m_read = 0;
};

// The faults one reply gets. Drop excludes the others; the rest combine.
struct FaultDecision {
    bool drop = false;
    bool corrupt = false;
    int splitMs = -1;
    int delayMs = -1;
};

// Decides, reply by reply, which faults the relay applies on the way to the client: standing
// settings from the command line (probabilities drawn from the seed, fixed split and delay)
// plus one-shot faults armed from standard input for the next reply only.
class FaultPlan
{
public:
    explicit FaultPlan(quint32 seed) : m_random(seed) {}

    void setDropProbability(double p) { m_dropProbability = p; }
    void setCorruptProbability(double p) { m_corruptProbability = p; }
    void setSplitMs(int ms) { m_splitMs = ms; }
    void setDelayMs(int ms) { m_delayMs = ms; }

    void armDrop() { m_once.drop = true; }
    void armCorrupt() { m_once.corrupt = true; }
    void armSplit(int ms) { m_once.splitMs = ms; }
    void armDelay(int ms) { m_once.delayMs = ms; }

    FaultDecision nextReply();

private:
    SimRandom m_random;
    double m_dropProbability = 0.0;
    double m_corruptProbability = 0.0;
    int m_splitMs = -1;
    int m_delayMs = -1;
    FaultDecision m_once;
};

// Length of the first complete reply frame at the start of bytes, judged from its function
// code and count byte: 0 while more bytes are needed, -1 when the function is not one whose
// reply length can be told.
int ReplyFrameLength(const QByteArray &bytes);

} // namespace vortan::sim
