#include "rfc2217.h"

namespace vortan::rfc2217
{

namespace
{

void command(QByteArray &out, quint8 code, const QByteArray &value)
{
    out.append(char(Iac)).append(char(Sb)).append(char(ComPortOption)).append(char(code));
    out.append(escape(value));
    out.append(char(Iac)).append(char(Se));
}

QByteArray byteValue(quint8 v)
{
    return QByteArray(1, char(v));
}

bool accepted(quint8 code)
{
    return code == Binary || code == SuppressGoAhead || code == ComPortOption;
}

} // namespace

QByteArray escape(const QByteArray &data)
{
    QByteArray out;
    out.reserve(data.size() + 4);
    for (const char c : data) {
        out.append(c);
        if (quint8(c) == Iac)
            out.append(c);
    }
    return out;
}

QByteArray lineSettings()
{
    const quint32 baud = 115200;
    QByteArray rate;
    for (int shift = 24; shift >= 0; shift -= 8)
        rate.append(char((baud >> shift) & 0xFF));
    QByteArray out;
    command(out, SetBaudRate, rate);
    command(out, SetDataSize, byteValue(8));
    command(out, SetParity, byteValue(ParityEven));
    command(out, SetStopSize, byteValue(1));
    command(out, SetControl, byteValue(NoFlowControl));
    return out;
}

QString FarLine::text() const
{
    static const char parities[] = "?NOEMS";
    const char p = parity < sizeof parities - 1 ? parities[parity] : '?';
    return QStringLiteral("%1 %2%3%4")
        .arg(baud)
        .arg(dataBits)
        .arg(QLatin1Char(p))
        .arg(stopBits == 1   ? QStringLiteral("1")
             : stopBits == 2 ? QStringLiteral("2")
                             : QStringLiteral("1.5"));
}

QByteArray TelnetReader::start()
{
    *this = TelnetReader();
    QByteArray hello;
    sayOnce(m_said, Will, Binary, hello);
    sayOnce(m_said, Do, Binary, hello);
    sayOnce(m_said, Will, ComPortOption, hello);
    return hello;
}

void TelnetReader::sayOnce(QByteArray &said, quint8 verb, quint8 code, QByteArray &reply)
{
    for (int i = 0; i + 1 < said.size(); i += 2) {
        if (quint8(said.at(i)) == verb && quint8(said.at(i + 1)) == code)
            return;
    }
    said.append(char(verb)).append(char(code));
    reply.append(char(Iac)).append(char(verb)).append(char(code));
}

void TelnetReader::feed(const QByteArray &chunk, QByteArray &data, QByteArray &reply)
{
    for (const char ch : chunk) {
        const quint8 b = quint8(ch);
        switch (m_state) {
        case State::Data:
            if (b == Iac)
                m_state = State::Iac;
            else
                data.append(ch);
            break;
        case State::Iac:
            if (b == Iac) {
                data.append(ch);
                m_state = State::Data;
            } else if (b >= Will && b <= Dont) {
                m_verb = b;
                m_state = State::Option;
            } else if (b == Sb) {
                m_sub.clear();
                m_subOverflow = false;
                m_state = State::Sub;
            } else {
                // NOP, go-ahead, break and the like carry nothing for the controller's line.
                m_state = State::Data;
            }
            break;
        case State::Option:
            option(m_verb, b, reply);
            m_state = State::Data;
            break;
        case State::Sub:
            if (b == Iac) {
                m_state = State::SubIac;
            } else if (m_sub.size() < MaxSubBytes) {
                m_sub.append(ch);
            } else {
                m_subOverflow = true;
            }
            break;
        case State::SubIac:
            if (b == Se) {
                if (!m_subOverflow)
                    subnegotiation();
                m_state = State::Data;
            } else {
                // IAC IAC inside is one 0xFF; anything else is malformed and ends nothing.
                if (b == Iac && m_sub.size() < MaxSubBytes)
                    m_sub.append(ch);
                m_state = State::Sub;
            }
            break;
        }
    }
}

void TelnetReader::option(quint8 verb, quint8 code, QByteArray &reply)
{
    switch (verb) {
    case Will:
        sayOnce(m_said, accepted(code) ? Do : Dont, code, reply);
        break;
    case Do:
        if (code == ComPortOption)
            m_comPortAgreed = true;
        sayOnce(m_said, accepted(code) ? Will : Wont, code, reply);
        break;
    case Wont:
    case Dont:
        if (code == ComPortOption && !m_comPortAgreed)
            m_comPortRefused = true;
        break;
    default:
        break;
    }
}

void TelnetReader::subnegotiation()
{
    if (m_sub.size() < 3 || quint8(m_sub.at(0)) != ComPortOption)
        return;
    const quint8 code = quint8(m_sub.at(1));
    const QByteArray value = m_sub.mid(2);
    switch (code) {
    case ServerOffset + SetBaudRate:
        if (value.size() == 4)
            m_farLine.baud = quint32(quint8(value.at(0))) << 24 |
                             quint32(quint8(value.at(1))) << 16 |
                             quint32(quint8(value.at(2))) << 8 | quint32(quint8(value.at(3)));
        break;
    case ServerOffset + SetDataSize:
        m_farLine.dataBits = quint8(value.at(0));
        break;
    case ServerOffset + SetParity:
        m_farLine.parity = quint8(value.at(0));
        break;
    case ServerOffset + SetStopSize:
        m_farLine.stopBits = quint8(value.at(0));
        break;
    default:
        break;
    }
}

} // namespace vortan::rfc2217
