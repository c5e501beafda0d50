#pragma once

#include "modbus/frames.h"

#include <functional>

namespace vortan
{

// Decides what goes on the line when the request queue is empty.
class PollPolicy
{
public:
    virtual ~PollPolicy() = default;
    // The poll to queue now; false leaves the line quiet until something is queued.
    virtual bool nextPoll(RequestSlot &poll) = 0;
};

// The main window's traffic: the status block and the control-state exchange in turn. The
// operator's check boxes and lists are read when the control-state poll is generated, so a
// repeated request carries the same bytes again.
class AlternatingPoll : public PollPolicy
{
public:
    using StateSource = std::function<ControlState()>;

    explicit AlternatingPoll(StateSource source) : m_source(std::move(source)) {}
    bool nextPoll(RequestSlot &poll) override;

    // PollToggle: true when the next poll is the control-state exchange.
    bool pollToggle() const { return m_pollToggle; }

private:
    StateSource m_source;
    bool m_pollToggle = false;
};

// Without an operator there are no inputs to send: a control-state write would clear the
// controller's control bits in 4002..4006. Only the status block is read.
class StatusOnlyPoll : public PollPolicy
{
public:
    bool nextPoll(RequestSlot &poll) override;
};

// Only what is queued goes on the line (command-line transfers, a bus scan).
class QuietPoll : public PollPolicy
{
public:
    bool nextPoll(RequestSlot &) override { return false; }
};

} // namespace vortan
