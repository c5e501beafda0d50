#include "sim/faultplan.h"
#include "sim/simoptions.h"

#include <QtTest>

using namespace vortan::sim;

class TstSimFaults : public QObject
{
    Q_OBJECT
private slots:
    void replyFrameLength_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("length");
        QTest::newRow("nothing yet") << QByteArray::fromHex("01") << 0;
        QTest::newRow("status header only") << QByteArray::fromHex("010490") << 0;
        QTest::newRow("full status block")
            << (QByteArray::fromHex("010490") + QByteArray(146, 0)) << 149;
        QTest::newRow("status and the next reply")
            << (QByteArray::fromHex("010490") + QByteArray(150, 0)) << 149;
        QTest::newRow("write echo") << QByteArray::fromHex("01060FA1CBD08D90") << 8;
        QTest::newRow("23 reply") << QByteArray::fromHex("01170200000000") << 7;
        QTest::newRow("param reply before count") << QByteArray::fromHex("01640000") << 0;
        QTest::newRow("param reply")
            << (QByteArray::fromHex("0164000031") + QByteArray(51, 0)) << 56;
        QTest::newRow("exception") << QByteArray::fromHex("01E402EAC1") << 5;
        QTest::newRow("unknown function") << QByteArray::fromHex("01420000") << -1;
    }
    void replyFrameLength()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, length);
        QCOMPARE(ReplyFrameLength(bytes), length);
    }

    // A dropped reply has nothing else to suffer, and a one-shot fault gives way to the
    // standing setting after its reply.
    void dropExcludesTheOtherFaults()
    {
        FaultPlan plan(1);
        plan.setDelayMs(20);
        plan.armDrop();
        plan.armCorrupt();
        plan.armSplit(30);
        plan.armDelay(100);
        const FaultDecision d = plan.nextReply();
        QVERIFY(d.drop && !d.corrupt && d.splitMs == -1 && d.delayMs == -1);
        const FaultDecision next = plan.nextReply();
        QVERIFY(!next.drop && !next.corrupt && next.splitMs == -1);
        QCOMPARE(next.delayMs, 20);
    }

    void probabilitiesAreHonouredAndRepeatable()
    {
        FaultPlan a(42), b(42), never(42), always(42);
        a.setDropProbability(0.25);
        b.setDropProbability(0.25);
        always.setCorruptProbability(1.0);
        int drops = 0;
        for (int i = 0; i < 4000; ++i) {
            const bool dropped = a.nextReply().drop;
            QCOMPARE(b.nextReply().drop, dropped);
            drops += dropped;
            QVERIFY(!never.nextReply().corrupt);
            QVERIFY(always.nextReply().corrupt);
        }
        QVERIFY2(drops > 900 && drops < 1100, qPrintable(QString::number(drops)));
    }

    // The one-shot commands as typed; the process tests send each of them in its plain form.
    void stdinCommands_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("ms");
        const int invalid = int(StdinCommand::Kind::Invalid);
        QTest::newRow("crc with blanks") << "  crc \r" << int(StdinCommand::Kind::Corrupt) << 0;
        QTest::newRow("delay in capitals") << "DELAY 100" << int(StdinCommand::Kind::Delay) << 100;
        QTest::newRow("empty") << "" << int(StdinCommand::Kind::Empty) << 0;
        QTest::newRow("negative delay") << "delay -5" << invalid << 0;
        QTest::newRow("huge delay") << "delay 99999999999" << invalid << 0;
        QTest::newRow("drop with junk") << "drop now" << invalid << 0;
        QTest::newRow("exception 0:2") << "exception 0:2" << invalid << 0;
        QTest::newRow("unknown") << "explode" << invalid << 0;
    }
    void stdinCommands()
    {
        QFETCH(QString, line);
        QFETCH(int, kind);
        QFETCH(int, ms);
        const StdinCommand c = ParseStdinCommand(line);
        QCOMPARE(int(c.kind), kind);
        QCOMPARE(c.ms, ms);
        QCOMPARE(c.error.isEmpty(), kind != int(StdinCommand::Kind::Invalid));
    }

    void statusTapFollowsTheDeliveredReply()
    {
        auto blockOf = [](quint16 seed) {
            StatusBlock b{};
            for (int n = 0; n < Status::Count; ++n)
                b[size_t(n)] = quint16(seed * 1000 + n);
            b[Status::Count - 1] = 0xFFFF; // bytes with the top bit set survive the decoding
            return b;
        };
        auto frameOf = [](const StatusBlock &b) {
            QByteArray f = QByteArray::fromHex("010490");
            for (quint16 r : b)
                f.append(char(r >> 8)).append(char(r & 0xFF));
            return f.append(2, '\0');
        };
        StatusTap tap;
        QCOMPARE(tap.toJson(), QStringLiteral("{\"status\":[],\"read\":0}"));
        for (quint32 read = 1; read <= 3; ++read)
            tap.served(read, blockOf(quint16(read)));
        // The reply to read 1 was dropped on the way; read 2 arrives.
        tap.delivered(frameOf(blockOf(2)));
        // Neither a short read, nor another function, nor a cut frame replaces the block.
        tap.delivered(QByteArray::fromHex("0104020102") + QByteArray(2, 0));
        tap.delivered(QByteArray::fromHex("01170200010000"));
        tap.delivered(frameOf(blockOf(3)).chopped(1));
        tap.delivered(QByteArray());
        QCOMPARE(tap.read(), 2u);
        QVERIFY(tap.block() == blockOf(2));

        tap.delivered(frameOf(blockOf(3)));
        QCOMPARE(tap.read(), 3u);
        // A block no remembered read produced is still what the client got.
        tap.delivered(frameOf(blockOf(9)));
        QCOMPARE(tap.read(), 0u);
        QVERIFY(tap.block() == blockOf(9));

        for (quint32 i = 1; i <= StatusTap::MaxUndelivered + 5; ++i)
            tap.served(100 + i, blockOf(quint16(i)));
        tap.delivered(frameOf(blockOf(1)));
        QCOMPARE(tap.read(), 0u);
        tap.delivered(frameOf(blockOf(StatusTap::MaxUndelivered + 5)));
        QCOMPARE(tap.read(), quint32(100 + StatusTap::MaxUndelivered + 5));
    }

    void commandLine()
    {
        const ParsedArguments p = ParseSimArguments(
            QStringLiteral("vortan-sim --seed 4000000000 --drop 0.1 --exception 4:2 --exception "
                           "101:3 --scenario alarms --address 17")
                .split(QLatin1Char(' ')));
        QCOMPARE(int(p.outcome), int(ParsedArguments::Outcome::Run));
        QCOMPARE(p.options.seed, 4000000000u);
        QCOMPARE(p.options.drop, 0.1);
        QCOMPARE(p.options.exceptions.size(), 2);
        QCOMPARE(p.options.exceptions[1].functionCode, 101);
        QCOMPARE(int(p.options.scenario), int(Scenario::Alarms));
        QVERIFY(p.options.addressGiven && p.options.address == 17);
        QCOMPARE(int(ParseSimArguments({QStringLiteral("vortan-sim"), QStringLiteral("--help")})
                         .outcome),
                 int(ParsedArguments::Outcome::Help));
    }

    // Each refused with a text that names what was wrong.
    void badCommandLine_data()
    {
        QTest::addColumn<QString>("args");
        QTest::newRow("negative seed") << "--seed -1";
        QTest::newRow("seed above 32 bits") << "--seed 4294967296";
        QTest::newRow("probability not a number") << "--corrupt nan";
        QTest::newRow("probability above 1") << "--drop 5";
        QTest::newRow("address 0") << "--address 0";
        QTest::newRow("address 248") << "--address 248";
        QTest::newRow("exception without code") << "--exception 4";
        QTest::newRow("exception code 0") << "--exception 4:0";
        QTest::newRow("negative split") << "--split -1";
        QTest::newRow("unknown scenario") << "--scenario fire";
        QTest::newRow("unknown option") << "--bogus";
        QTest::newRow("stray argument") << "stray";
    }
    void badCommandLine()
    {
        QFETCH(QString, args);
        const ParsedArguments r = ParseSimArguments(QStringList{QStringLiteral("vortan-sim")} +
                                                    args.split(QLatin1Char(' ')));
        QCOMPARE(int(r.outcome), int(ParsedArguments::Outcome::Error));
        const QString culprit = args.section(QLatin1Char(' '), 0, 0).remove(QStringLiteral("--"));
        QVERIFY2(r.text.contains(culprit), qPrintable(r.text));
    }
};

QTEST_GUILESS_MAIN(TstSimFaults)
#include "tst_simfaults.moc"
