#include "format/formatting.h"
#include "status/statussnapshot.h"

#include <QtTest>

#include <cmath>

using namespace vortan;

namespace
{

// Register n holds 1000 + n, but for the values that probe signs, validity, padding and bits.
RxBuffer KnownBlock()
{
    QMap<int, quint16> regs{{1, 0x0109},  {10, 0xFFF6}, {11, 0xFFF6}, {13, 0xFC7C}, {22, 0x0003},
                            {23, 0x0002}, {24, 0xFF5A}, {49, 0xFFEC}, {70, 0xFFFF}};
    RxBuffer rx;
    rx.count = StatusReplyLength;
    for (int n = 0; n < StatusRegisters; ++n) {
        const quint16 v = regs.value(n, quint16(1000 + n));
        rx.bytes[size_t(RegByteIndex(n))] = quint8(v >> 8);
        rx.bytes[size_t(RegByteIndex(n) + 1)] = quint8(v);
    }
    return rx;
}

int FieldIndex(const QString &label)
{
    const RegisterMap map = StatusRegisterMap();
    for (size_t i = 0; i < map.count; ++i) {
        if (label == QLatin1String(map.first[i].label))
            return int(i);
    }
    return -1;
}

} // namespace

class TestStatusSnapshot : public QObject
{
    Q_OBJECT

    const StatusSnapshot m_s = DecodeStatusBlock(KnownBlock());

private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    // Texts as the Russian window shows them; "?" marks a measurement register 22 calls invalid.
    void everyField_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("text");
        const char *rows[][2] = {
            {"lbl_pr_ver", "3 .232 "},
            {"lbl_sw_ver", "1 .09 "},
            {"lbl_netAU", "100,2 "},
            {"lbl_secAU", "100,3 "},
            {"lbl_phAU", "100,4 "},
            {"lbl_phBU", "100,5 "},
            {"lbl_phCU", "100,6 "},
            {"lbl_phAI", "100,7 "},
            {"lbl_phBI", "100,8 "},
            {"lbl_phCI", "100,9 "},
            {"lbl_ap", "-1 "},
            {"lbl_fp", "6552,6 "},
            {"lbl_rp", "101,2 "},
            {"lbl_cosfi", "-0,9 "},
            {"lbl_netfr", "10,14 "},
            {"lbl_secfr", "10,15 "},
            {"lbl_fr", "10,16 "},
            {"lbl_netfrt", "10,17 "},
            {"lbl_secfrt", "?"},
            {"lbl_frt", "10,19 "},
            {"lbl_dng", "102 "},
            {"lbl_dsg", "?"},
            {"lbl_ovl_duty", "102,5 %"},
            {"lbl_own_duty", "102,6 %"},
            {"lbl_vfsf", "VFSF 04040405"},
            {"lbl_cf0", "CF0 04200421"},
            {"lbl_cf1", "CF1 04220423"},
            {"lbl_ovl_duty_wofg", "106 %"},
            {"lbl_ovl_duty_prev", "106,1 %"},
            {"lbl_ovl_duty_dstr", "106,2 %"},
            {"lbl_dbg", "042F"},
        };
        QCOMPARE(sizeof rows / sizeof rows[0], StatusRegisterMap().count);
        for (const auto &[label, text] : rows)
            QTest::newRow(label) << QString::fromLatin1(label) << QString::fromUtf8(text);
    }
    void everyField()
    {
        QFETCH(QString, label);
        QFETCH(QString, text);
        const int i = FieldIndex(label);
        QVERIFY(i >= 0);
        const bool valid = text != QLatin1String("?");
        QCOMPARE(m_s.fields[size_t(i)].valid, valid);
        const bool number = valid && StatusRegisterMap().first[i].isNumber();
        QCOMPARE(std::isnan(m_s.fieldNumber(i)), !number);
        if (number)
            QCOMPARE(m_s.fieldNumber(i), ParseNumber(text));
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        QCOMPARE(m_s.fieldText(i), text);
        QLocale::setDefault(QLocale::c());
        QCOMPARE(m_s.fieldText(i), text.replace(u',', u'.'));
    }

    void unitTableAndBitWords()
    {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        QStringList units;
        for (const UnitReading &u : m_s.units)
            units << UnitPowerText(u.maxPower) + '/' + UnitPowerText(u.activePower) + '/' +
                         UnitStateLetters(u.state) + (u.green ? "/green" : "");
        QCOMPARE(units.first(), QStringLiteral("103,4 /104,2 /АКСРк/green"));
        QCOMPARE(units.at(1), QStringLiteral("103,5 /104,3 /ЗРк"));
        // Bit 2 is the Cyrillic ES; 0xFFFF shows bits 0..10 only.
        QCOMPARE(units.last(), QStringLiteral("104,1 /-2 /\u0410\u041A\u0421\u0417\u041D\u0420"
                                              "\u0411\u041E*\u0441\u043A/green"));
        QString green;
        for (const QString &u : units)
            green += u.endsWith(QLatin1String("green")) ? 'g' : '.';
        QCOMPARE(green, QStringLiteral("g.g..g.g"));

        QVERIFY(m_s.measValidity == 0x0003 && !m_s.nodeConflict && m_s.discreteInputs == 1027);
        QCOMPARE(QList<quint32>(
                     {m_s.controlFlags, m_s.alarms, m_s.alarms1, m_s.warnings, m_s.warnings1}),
                 QList<quint32>({0x04200421, 0x04060407, 0x04080409, 0x041C041D, 0x041E041F}));
        RxBuffer shortReply = KnownBlock();
        --shortReply.count;
        QVERIFY(HoldsStatusBlock(KnownBlock()) && !HoldsStatusBlock(shortReply));
    }

    // Lamps by member index: inputs 0..9, flags 0..12 then bits 18..20, red over yellow.
    void lamps()
    {
        StatusSnapshot s;
        s.discreteInputs = 0xFC03;
        s.controlFlags = (1u << 0) | (1u << 12) | (1u << 17) | (1u << 18) | (1u << 20);
        s.alarms = 0x80000100;
        s.warnings = 0x00000300;
        s.alarms1 = 0x2;
        s.warnings1 = 0x1;
        QString seen;
        for (int i = -1; i <= 16; ++i)
            seen += QString::number(int(s.inputOn(i))) + QString::number(int(s.flagOn(i)));
        QCOMPARE(seen, QStringLiteral("001110000000000000000000000101000100"));
        QString levels;
        for (int i : {-1, 0, 8, 9, 31, 32})
            levels += QString::number(s.alarmLevel(i));
        for (int i : {0, 1, 2})
            levels += QString::number(s.alarmLevel(i, true));
        QCOMPARE(levels, QStringLiteral("002120120"));
    }
};

QTEST_GUILESS_MAIN(TestStatusSnapshot)
#include "tst_statussnapshot.moc"
