#include "portlink.h"

namespace vortan
{

PortLink::PortLink(DeviceOf deviceOf, QObject *parent)
    : QObject(parent), m_deviceOf(std::move(deviceOf)), m_serial(m_deviceOf, this),
      m_network(m_deviceOf, this)
{
}

void PortLink::selectPort(int n)
{
    m_port = n;
    m_serial.selectPort(n);
    m_network.selectPort(n);
}

OpenResult PortLink::open()
{
    if (m_current->isOpen())
        return OpenResult::Unavailable;
    const QString device = m_deviceOf ? m_deviceOf(m_port) : QString();
    SerialLink *wanted =
        NetworkAddress::isNetwork(device) ? static_cast<SerialLink *>(&m_network) : &m_serial;
    // The other transport may still be retrying a lost device or connection: that ends here.
    if (wanted != m_current)
        m_current->close();
    m_current = wanted;
    return m_current->open();
}

void PortLink::close()
{
    m_serial.close();
    m_network.close();
}

} // namespace vortan
