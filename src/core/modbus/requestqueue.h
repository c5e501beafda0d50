#pragma once

#include "frames.h"

#include <array>

namespace vortan
{

// The one FIFO ring of requests to the controller. The slot at the read index is the request in
// flight: it stays until a good reply releases it, and everything behind it waits.
class RequestQueue
{
public:
    static constexpr int Slots = 512;
    static constexpr int MaxWaiting = Slots - 1;

    bool isEmpty() const { return m_read == m_write; }
    int waiting() const { return (m_write + Slots - m_read) % Slots; }
    bool hasRoomFor(int n) const { return n >= 0 && waiting() + n <= MaxWaiting; }

    // Producer step: copies the request into the slot at the write index, then advances it.
    // A ring already holding 511 requests refuses (returns false) and changes nothing: an
    // overwrite would make the ring look empty and lose every waiting request. A request that is
    // not valid (RequestSlot::isValid) is refused the same way.
    bool enqueue(const RequestSlot &request);

    const RequestSlot &inFlight() const { return m_slots[m_read]; }
    // Any index names a slot, counted round the ring (-1 is slot 511).
    const RequestSlot &slotAt(int index) const
    {
        return m_slots[size_t(((index % Slots) + Slots) % Slots)];
    }

    // Neither index may pass the other: a write index run onto the read index would make a full
    // ring look empty, and a read index run past the write index would put 511 empty slots on
    // the line. Such a step changes nothing.
    void AdvanceWriteIndex()
    {
        if (waiting() < MaxWaiting)
            m_write = quint16((m_write + 1) % Slots);
    }
    // A good reply with nothing in flight (left over from before the first request) releases
    // nothing.
    void AdvanceReadIndex()
    {
        if (!isEmpty())
            m_read = quint16((m_read + 1) % Slots);
    }
    // Drops every waiting request, the one in flight included (a command-line transfer that
    // gave up).
    void clear() { m_read = m_write; }
    quint16 readIndex() const { return m_read; }
    quint16 writeIndex() const { return m_write; }

private:
    std::array<RequestSlot, Slots> m_slots{};
    quint16 m_read = 0;
    quint16 m_write = 0;
};

} // namespace vortan
