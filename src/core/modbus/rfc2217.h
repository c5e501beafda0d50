#pragma once

#include <QByteArray>
#include <QString>

namespace vortan::rfc2217
{

// Telnet bytes and the COM-port control option (RFC 854, RFC 2217).
constexpr quint8 Se = 240;
constexpr quint8 Sb = 250;
constexpr quint8 Will = 251;
constexpr quint8 Wont = 252;
constexpr quint8 Do = 253;
constexpr quint8 Dont = 254;
constexpr quint8 Iac = 255;
constexpr quint8 Binary = 0;
constexpr quint8 SuppressGoAhead = 3;
constexpr quint8 ComPortOption = 44;
constexpr quint8 SetBaudRate = 1;
constexpr quint8 SetDataSize = 2;
constexpr quint8 SetParity = 3;
constexpr quint8 SetStopSize = 4;
constexpr quint8 SetControl = 5;
// The server answers a command with the command's number plus this.
constexpr quint8 ServerOffset = 100;
constexpr quint8 ParityEven = 3;
constexpr quint8 NoFlowControl = 1;

// A frame's bytes as telnet data: every 0xFF doubled.
QByteArray escape(const QByteArray &data);

// The subnegotiations that set the controller's line at the far end: 115200 baud, 8 data bits,
// even parity, 1 stop bit, no flow control.
QByteArray lineSettings();

// The far end's line as its server reported it after our commands; 0 while not reported.
struct FarLine {
    quint32 baud = 0;
    quint8 dataBits = 0;
    quint8 parity = 0;
    quint8 stopBits = 0;
    bool complete() const { return baud != 0 && dataBits != 0 && parity != 0 && stopBits != 0; }
    bool isControllerLine() const
    {
        return baud == 115200 && dataBits == 8 && parity == ParityEven && stopBits == 1;
    }
    QString text() const; // "115200 8E1"
};

// Splits the byte stream from a telnet server into line data and telnet commands, across any
// chunk boundaries, and answers the server's option requests: binary, suppress-go-ahead and
// COM-port control are accepted, every other option is refused once.
class TelnetReader
{
public:
    // Forgets the last connection and returns what the client says first: binary both ways
    // and COM-port control offered.
    QByteArray start();

    // Appends the line data found in `chunk` to `data`, and the answers owed to the server
    // to `reply`.
    void feed(const QByteArray &chunk, QByteArray &data, QByteArray &reply);

    // True once the server agreed to COM-port control (DO 44); `lineSettings()` may go then.
    bool comPortAgreed() const { return m_comPortAgreed; }
    // True when the server declined COM-port control: the far end keeps its own settings.
    bool comPortRefused() const { return m_comPortRefused; }
    const FarLine &farLine() const { return m_farLine; }

private:
    enum class State { Data, Iac, Option, Sub, SubIac };
    static constexpr int MaxSubBytes = 64;

    void option(quint8 verb, quint8 code, QByteArray &reply);
    void subnegotiation();
    // Says `verb code` unless it was said before on this connection.
    static void sayOnce(QByteArray &said, quint8 verb, quint8 code, QByteArray &reply);

    State m_state = State::Data;
    quint8 m_verb = 0;
    QByteArray m_sub;
    bool m_subOverflow = false;
    bool m_comPortAgreed = false;
    bool m_comPortRefused = false;
    // Every option verb we sent on this connection as (verb, code) pairs, so a repeated request
    // gets no second answer and no negotiation can loop.
    QByteArray m_said;
    FarLine m_farLine;
};

} // namespace vortan::rfc2217
