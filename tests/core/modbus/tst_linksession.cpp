#include "modbus/linksession.h"

#include "fakeseriallink.h"

#include <QtTest>

#include <functional>

using namespace vortan;

namespace
{

QByteArray withCrc(QByteArray body)
{
    const quint16 crc = Crc16Modbus(body);
    return body.append(char(crc & 0xFF)).append(char(crc >> 8));
}

// A controller that answers every frame with whatever `answer` makes of it, 2.5 ms later on
// the line's clock when one is set.
struct AnsweringLink : test::FakeSerialLink {
    std::function<QByteArray(const QByteArray &)> answer;
    QObject context; // for answers that come later
    void write(const QByteArray &frame) override
    {
        FakeSerialLink::write(frame);
        if (clockUs >= 0)
            clockUs += 2500;
        if (answer)
            feed(answer(frame));
    }
};

struct Records : ExchangeObserver {
    QList<ExchangeRecord> list;
    void exchanged(const ExchangeRecord &r) override { list.append(r); }
};

// The controller's answer to a parameter read: each data byte the low byte of the address.
QByteArray paramReply(const QByteArray &request)
{
    return withCrc(request.left(5) + QByteArray(quint8(request.at(4)), request.at(3)));
}

} // namespace

class TstLinkSession : public QObject
{
    Q_OBJECT

private slots:
    void replyLengthFromItsFirstBytes_data()
    {
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<int>("length");
        QTest::newRow("nothing yet") << QByteArray::fromHex("01") << 0;
        QTest::newRow("status block") << QByteArray::fromHex("010490") << 149;
        QTest::newRow("priority code") << QByteArray::fromHex("011702") << 7;
        QTest::newRow("command echo") << QByteArray::fromHex("0106") << 8;
        QTest::newRow("parameter read, count not in") << QByteArray::fromHex("01640000") << 0;
        QTest::newRow("parameter read of 49") << QByteArray::fromHex("0164000031") << 56;
        QTest::newRow("parameter write echo") << QByteArray::fromHex("0165003701") << 8;
        QTest::newRow("exception") << QByteArray::fromHex("0184") << 5;
        QTest::newRow("unknown function") << QByteArray::fromHex("01420000") << 0;
    }
    void replyLengthFromItsFirstBytes()
    {
        QFETCH(QByteArray, start);
        QFETCH(int, length);
        QCOMPARE(ExpectedReplyLength(start), length);
    }

    // Queued requests go out in order, each reply reaches the caller, and nothing else is sent.
    void transferRunsToItsEnd()
    {
        AnsweringLink link;
        link.open();
        link.answer = [](const QByteArray &f) {
            return withCrc(f.left(5) + QByteArray(quint8(f.at(4)), '\x07'));
        };
        LinkSession session(link);
        session.setSlaveAddress(3);
        session.queue().enqueue(ParamReadRequest(0, 4));
        session.queue().enqueue(ParamReadRequest(10, 2));
        QList<int> counts;
        const LinkSession::Outcome out =
            session.run([&](const RxBuffer &rx) { counts << rx.byte(4); });
        QVERIFY(out.ok);
        QCOMPARE(out.answered, 2);
        QCOMPARE(counts, (QList<int>{4, 2}));
        QCOMPARE(link.written.size(), 2);
        QCOMPARE(quint8(link.written.at(0).at(0)), quint8(3));
    }

    // A copy of the previous answer that arrives late, before or right behind the real reply,
    // is reported once as a stray frame with no request and never decoded; the wait goes on
    // for the real reply, which still counts, with its time on the line.
    void lateReplyIsSetAside_data()
    {
        QTest::addColumn<bool>("lateFirst");
        QTest::addColumn<int>("replyAfterMs"); // -1: with the late copy
        QTest::addColumn<QStringList>("verdicts");
        const QStringList twoStrays{"good", "stray", "good", "stray", "good"};
        QTest::newRow("before the reply") << true << -1 << twoStrays;
        QTest::newRow("before the reply, which follows 2 ms later") << true << 2 << twoStrays;
        // The one behind the last reply is left on the line when the transfer ends.
        QTest::newRow("right behind the reply")
            << false << -1 << QStringList{"good", "good", "stray", "good"};
    }
    void lateReplyIsSetAside()
    {
        QFETCH(bool, lateFirst);
        QFETCH(int, replyAfterMs);
        QFETCH(QStringList, verdicts);
        AnsweringLink link;
        link.open();
        link.clockUs = 0;
        QByteArray previous;
        link.answer = [&](const QByteArray &f) {
            const QByteArray reply = paramReply(f);
            const QByteArray late = std::exchange(previous, reply);
            if (replyAfterMs >= 0) {
                QTimer::singleShot(replyAfterMs, &link.context,
                                   [&link, reply] { link.feed(reply); });
                return late;
            }
            return lateFirst ? late + reply : reply + late;
        };
        LinkSession session(link);
        session.setAttempts(1);
        Records records;
        session.cycle().addObserver(&records);
        for (int address : {10, 20, 30})
            session.queue().enqueue(ParamReadRequest(address, 2));
        QList<int> values;
        const LinkSession::Outcome out =
            session.run([&](const RxBuffer &rx) { values << rx.byte(5); });
        QVERIFY(out.ok);
        QCOMPARE(values, (QList<int>{10, 20, 30}));
        QCOMPARE(link.written.size(), 3);
        QStringList seen;
        for (const ExchangeRecord &r : std::as_const(records.list)) {
            seen << VerdictWord(r.verdict);
            QCOMPARE(r.request.isEmpty(), r.verdict == Verdict::Stray);
            if (r.verdict == Verdict::Good)
                QCOMPARE(r.replyTimeUs, qint64(2500));
        }
        QCOMPARE(seen, verdicts);
    }

    // A transfer (a parameter backup) over an adapter that hears its own requests, and over a
    // controller whose answer starts 30 ms after the request and ends after the tick: every
    // request goes out once, and every answer is read.
    void slowLineTransfer_data()
    {
        QTest::addColumn<bool>("echo");
        QTest::addColumn<int>("startMs"); // the answer's first bytes; the rest 15 ms later
        QTest::newRow("echo") << true << 0;
        QTest::newRow("30 ms turnaround") << false << 30;
        QTest::newRow("echo and 30 ms turnaround") << true << 30;
    }
    void slowLineTransfer()
    {
        QFETCH(bool, echo);
        QFETCH(int, startMs);
        AnsweringLink link;
        link.open();
        link.answer = [&](const QByteArray &f) {
            const QByteArray reply = paramReply(f);
            QTimer::singleShot(startMs, &link.context,
                               [&link, reply] { link.feed(reply.left(9)); });
            QTimer::singleShot(startMs + 15, &link.context,
                               [&link, reply] { link.feed(reply.mid(9)); });
            return echo ? f : QByteArray();
        };
        LinkSession session(link);
        for (int address : {10, 20, 30})
            session.queue().enqueue(ParamReadRequest(address, 40));
        QList<int> values;
        const LinkSession::Outcome out =
            session.run([&](const RxBuffer &rx) { values << rx.byte(5) << rx.byte(44); });
        QVERIFY(out.ok);
        QCOMPARE(values, (QList<int>{10, 10, 20, 20, 30, 30}));
        QCOMPARE(link.written.size(), 3);
    }

    // The tail of a reply that came too late for the last transfer is still on the line when
    // the next one starts; it must not be taken for the first answer.
    void leftoverBytesDoNotSpoilTheFirstExchange()
    {
        AnsweringLink link;
        link.open();
        link.answer = paramReply;
        link.feed(QByteArray::fromHex("0707C3"));
        LinkSession session(link);
        session.setAttempts(1);
        session.queue().enqueue(ParamReadRequest(0, 4));
        QVERIFY(session.run({}).ok);
        QCOMPARE(link.written.size(), 1);
    }

    // Tries are counted per request: one loss on each of several requests never adds up to a
    // give-up.
    void lossesOnSeveralRequestsDoNotAddUp()
    {
        AnsweringLink link;
        link.open();
        int sent = 0;
        link.answer = [&sent](const QByteArray &f) {
            return ++sent % 2 ? QByteArray() : withCrc(f.left(5) + QByteArray(quint8(f.at(4)), '\x07'));
        };
        LinkSession session(link);
        session.setAttempts(2);
        for (int a = 0; a < 4; ++a)
            session.queue().enqueue(ParamReadRequest(a, 1));
        const LinkSession::Outcome out = session.run({});
        QVERIFY(out.ok);
        QCOMPARE(out.answered, 4);
        QCOMPARE(link.written.size(), 8);
    }

    // Silence is tried as often as asked, then the transfer stops naming the request; an
    // exception reply stops it at once with its code; a half reply is judged a CRC mismatch.
    void failuresEndTheTransfer_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("verdict");
        QTest::addColumn<int>("sent");
        QTest::addColumn<int>("code");
        QTest::newRow("silence") << QByteArray() << int(Verdict::NoReply) << 3 << -1;
        QTest::newRow("exception")
            << withCrc(QByteArray::fromHex("01E402")) << int(Verdict::Exception) << 1 << 2;
        QTest::newRow("bad crc") << QByteArray::fromHex("0164000001AA0000") << int(Verdict::BadCrc)
                                 << 3 << -1;
    }
    void failuresEndTheTransfer()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, verdict);
        QFETCH(int, sent);
        QFETCH(int, code);
        AnsweringLink link;
        link.open();
        link.answer = [&](const QByteArray &) { return reply; };
        LinkSession session(link);
        session.setAttempts(3);
        session.queue().enqueue(ParamReadRequest(0, 1));
        session.queue().enqueue(ParamReadRequest(1, 1));
        const LinkSession::Outcome out = session.run({});
        QVERIFY(!out.ok);
        QCOMPARE(int(out.lastVerdict), verdict);
        QCOMPARE(out.exceptionCode, code);
        QCOMPARE(out.failed, link.written.first());
        QCOMPARE(link.written.size(), sent);
        QVERIFY(session.queue().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TstLinkSession)
#include "tst_linksession.moc"
