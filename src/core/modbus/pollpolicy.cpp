#include "modbus/pollpolicy.h"

namespace vortan
{

bool AlternatingPoll::nextPoll(RequestSlot &poll)
{
    const bool controlStateTurn = m_pollToggle;
    m_pollToggle = !m_pollToggle;
    poll = controlStateTurn && m_source ? ControlStateRequest(m_source()) : StatusPollRequest();
    return true;
}

bool StatusOnlyPoll::nextPoll(RequestSlot &poll)
{
    poll = StatusPollRequest();
    return true;
}

} // namespace vortan
