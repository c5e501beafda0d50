#include "sim/faultplan.h"
#include "sim/simoptions.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

    void oneShotFaultsHitOnlyTheNextReply()
    {
        FaultPlan plan(1);
        plan.armDrop();
        QVERIFY(plan.nextReply().drop);
        QVERIFY(!plan.nextReply().drop);
        plan.armCorrupt();
        plan.armSplit(30);
        FaultDecision d = plan.nextReply();
        QVERIFY(d.corrupt);
        QCOMPARE(d.splitMs, 30);
        d = plan.nextReply();
        QVERIFY(!d.corrupt);
        QCOMPARE(d.splitMs, -1);
        plan.setDelayMs(20);
        plan.armDelay(100);
        QCOMPARE(plan.nextReply().delayMs, 100);
        QCOMPARE(plan.nextReply().delayMs, 20);
        // A dropped reply has nothing else to suffer.
        plan.armDrop();
        d = plan.nextReply();
        QVERIFY(d.drop);
        QCOMPARE(d.delayMs, -1);
    }

    void probabilitiesAreHonouredAndRepeatable()
    {
        FaultPlan a(42), b(42);
        a.setDropProbability(0.25);
        b.setDropProbability(0.25);
        int drops = 0;
        for (int i = 0; i < 4000; ++i) {
            const bool dropped = a.nextReply().drop;
            QCOMPARE(b.nextReply().drop, dropped);
            drops += dropped;
        }
        QVERIFY2(drops > 900 && drops < 1100, qPrintable(QString::number(drops)));
        FaultPlan never(42), always(42);
        always.setCorruptProbability(1.0);
        for (int i = 0; i < 100; ++i) {
            QVERIFY(!never.nextReply().corrupt);
            QVERIFY(always.nextReply().corrupt);
        }
    }

    void countersJson()
    {
        SimCounters c;
        c.requests[4] = 5;
        c.requests[101] = 2;
        c.requests[3] = 9;
        c.replies = 6;
        c.split = 1;
        const QJsonObject o = QJsonDocument::fromJson(c.toJson(1.25).toUtf8()).object();
        QCOMPARE(o[QStringLiteral("requests")][QStringLiteral("4")].toInt(), 5);
        QCOMPARE(o[QStringLiteral("requests")][QStringLiteral("23")].toInt(), 0);
        QCOMPARE(o[QStringLiteral("requests")][QStringLiteral("101")].toInt(), 2);
        QCOMPARE(o[QStringLiteral("requests")].toObject().size(), 5);
        QCOMPARE(o[QStringLiteral("replies")].toInt(), 6);
        QCOMPARE(o[QStringLiteral("faults")][QStringLiteral("split")].toInt(), 1);
        QCOMPARE(o[QStringLiteral("faults")].toObject().size(), 5);
        QCOMPARE(o[QStringLiteral("seconds")].toDouble(), 1.25);
    }

    void stdinCommands_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("ms");
        QTest::newRow("drop") << "drop" << int(StdinCommand::Kind::Drop) << 0;
        QTest::newRow("crc with blanks") << "  crc \r" << int(StdinCommand::Kind::Corrupt) << 0;
        QTest::newRow("split 30") << "split 30" << int(StdinCommand::Kind::Split) << 30;
        QTest::newRow("delay 100") << "DELAY 100" << int(StdinCommand::Kind::Delay) << 100;
        QTest::newRow("exception") << "exception 23:6" << int(StdinCommand::Kind::Exception) << 0;
        QTest::newRow("empty") << "" << int(StdinCommand::Kind::Empty) << 0;
        QTest::newRow("split without time") << "split" << int(StdinCommand::Kind::Invalid) << 0;
        QTest::newRow("negative delay") << "delay -5" << int(StdinCommand::Kind::Invalid) << 0;
        QTest::newRow("huge delay") << "delay 99999999999" << int(StdinCommand::Kind::Invalid) << 0;
        QTest::newRow("drop with junk") << "drop now" << int(StdinCommand::Kind::Invalid) << 0;
        QTest::newRow("exception 0:2") << "exception 0:2" << int(StdinCommand::Kind::Invalid) << 0;
        QTest::newRow("status") << " Status " << int(StdinCommand::Kind::Status) << 0;
        QTest::newRow("status with junk") << "status 4" << int(StdinCommand::Kind::Invalid) << 0;
        QTest::newRow("unknown") << "explode" << int(StdinCommand::Kind::Invalid) << 0;
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
        if (kind == int(StdinCommand::Kind::Exception)) {
            QCOMPARE(c.rule.functionCode, 23);
            QCOMPARE(c.rule.code, 6);
        }
    }

    void statusTapFollowsTheDeliveredReply()
    {
        auto blockOf = [](quint16 seed) {
            StatusBlock b{};
            for (int n = 0; n < Status::Count; ++n)
                b[size_t(n)] = quint16(seed * 1000 + n);
            b[Status::Count - 1] = 0xFFFF; // the top register must survive as unsigned
            return b;
        };
        auto frameOf = [](const StatusBlock &b) {
            QByteArray f = QByteArray::fromHex("010490");
            for (quint16 r : b)
                f.append(char(r >> 8)).append(char(r & 0xFF));
            return f.append(2, '\0');
        };
        auto jsonOf = [](const StatusTap &tap) {
            return QJsonDocument::fromJson(tap.toJson().toUtf8()).object();
        };

        StatusTap tap;
        QJsonObject o = jsonOf(tap);
        QCOMPARE(o[QStringLiteral("status")].toArray().size(), 0);
        QCOMPARE(o[QStringLiteral("read")].toInt(), 0);

        tap.served(1, blockOf(1));
        tap.served(2, blockOf(2));
        tap.served(3, blockOf(3));
        // The reply to read 1 was dropped on the way; read 2 arrives.
        tap.delivered(frameOf(blockOf(2)));
        o = jsonOf(tap);
        QCOMPARE(o[QStringLiteral("read")].toInt(), 2);
        const QJsonArray regs = o[QStringLiteral("status")].toArray();
        QCOMPARE(regs.size(), Status::Count);
        for (int n = 0; n < Status::Count; ++n)
            QCOMPARE(regs[n].toInt(), int(blockOf(2)[size_t(n)]));

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
            {QStringLiteral("vortan-sim"), QStringLiteral("--seed"), QStringLiteral("4000000000"),
             QStringLiteral("--drop"), QStringLiteral("0.1"), QStringLiteral("--exception"),
             QStringLiteral("4:2"), QStringLiteral("--exception"), QStringLiteral("101:3"),
             QStringLiteral("--scenario"), QStringLiteral("alarms"), QStringLiteral("--address"),
             QStringLiteral("17")});
        QCOMPARE(int(p.outcome), int(ParsedArguments::Outcome::Run));
        QCOMPARE(p.options.seed, 4000000000u);
        QCOMPARE(p.options.drop, 0.1);
        QCOMPARE(p.options.exceptions.size(), 2);
        QCOMPARE(p.options.exceptions[1].functionCode, 101);
        QCOMPARE(int(p.options.scenario), int(Scenario::Alarms));
        QCOMPARE(p.options.address, 17);
        QVERIFY(p.options.addressGiven);
        QCOMPARE(int(ParseSimArguments({QStringLiteral("vortan-sim"), QStringLiteral("--help")})
                         .outcome),
                 int(ParsedArguments::Outcome::Help));
        for (const QStringList &bad :
             {QStringList{QStringLiteral("--seed"), QStringLiteral("-1")},
              QStringList{QStringLiteral("--corrupt"), QStringLiteral("nan")},
              QStringList{QStringLiteral("--address"), QStringLiteral("248")},
              QStringList{QStringLiteral("--exception"), QStringLiteral("4:0")},
              QStringList{QStringLiteral("--bogus")}, QStringList{QStringLiteral("stray")}}) {
            const ParsedArguments r =
                ParseSimArguments(QStringList{QStringLiteral("vortan-sim")} + bad);
            QCOMPARE(int(r.outcome), int(ParsedArguments::Outcome::Error));
            QVERIFY(!r.text.isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(TstSimFaults)
#include "tst_simfaults.moc"
