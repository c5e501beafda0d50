#include "report/servicereport.h"

#include "format/formatting.h"
#include "journal/journalevent.h"
#include "params/paramtable.h"

#include <QLocale>

namespace vortan
{

namespace
{

// Printed on A4 the tables break between rows, their headings repeat on every page, and the
// colours of alarms, differences and the first-out are printed too.
const char Style[] = R"(
@page { size: A4; margin: 15mm 12mm; }
body { font-family: "DejaVu Sans", Arial, sans-serif; font-size: 10pt; color: #000; }
h1 { font-size: 15pt; margin: 0 0 6pt 0; }
h2 { font-size: 12pt; margin: 14pt 0 4pt 0; page-break-after: avoid; break-after: avoid; }
table { border-collapse: collapse; width: 100%; margin-bottom: 6pt; }
thead { display: table-header-group; }
tr { page-break-inside: avoid; break-inside: avoid; }
th, td { border: 1px solid #888; padding: 2pt 4pt; text-align: left; vertical-align: top; }
th { background: #e4e4e4; }
td.num { text-align: right; white-space: nowrap; }
.alarm { background: #ff8080; }
.warning { background: #ffff80; }
.diff td { background: #ffc0c0; }
.mark { font-weight: bold; color: #b00000; }
.first-out td { background: #ffd8a0; font-weight: bold; }
.none { color: #555; font-style: italic; }
img.trend { max-width: 100%; }
* { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
)";

QString Esc(const QString &text)
{
    return text.toHtmlEscaped();
}

QString Utf8(const char *text)
{
    return QString::fromUtf8(text);
}

QString Cell(const QString &text, const char *cls = nullptr)
{
    return cls ? QStringLiteral("<td class=\"%1\">%2</td>").arg(QLatin1String(cls), Esc(text))
               : QStringLiteral("<td>%1</td>").arg(Esc(text));
}

QString Head(const QStringList &headings)
{
    QString row = QStringLiteral("<thead><tr>");
    for (const QString &h : headings)
        row += QStringLiteral("<th>") + Esc(h) + QStringLiteral("</th>");
    return row + QStringLiteral("</tr></thead>\n");
}

QString None(const QString &text)
{
    return QStringLiteral("<p class=\"none\">") + Esc(text) + QStringLiteral("</p>\n");
}

QString Number(quint64 n)
{
    return QString::number(n);
}

// Microseconds as milliseconds with one decimal in the user's number format; "—" when unknown.
QString Ms(qint64 us)
{
    return us < 0 ? QStringLiteral("—") : FormatScaled(double(us), 1, 0.001, QString()).trimmed();
}

QString VersionOf(const StatusSnapshot &s, const char *label)
{
    const RegisterMap map = StatusRegisterMap();
    for (size_t i = 0; i < map.count; ++i) {
        if (qstrcmp(map.first[i].label, label) == 0)
            return s.fieldText(int(i)).trimmed();
    }
    return QString();
}

QString Summary(const ServiceReport &r)
{
    const QString unknown = QStringLiteral("нет данных");
    const QString protocol = r.status ? VersionOf(*r.status, "lbl_pr_ver") : unknown;
    const QString software = r.status ? VersionOf(*r.status, "lbl_sw_ver") : unknown;
    const QList<QPair<QString, QString>> rows = {
        {QStringLiteral("Дата и время"),
         QLocale().toString(r.time, QStringLiteral("yyyy-MM-dd HH:mm:ss"))},
        {QStringLiteral("Версия программы"), r.programVersion},
        {QStringLiteral("Порт"), r.port},
        {QStringLiteral("Адрес контроллера"), QString::number(r.address)},
        {QStringLiteral("Версия протокола"), protocol},
        {QStringLiteral("Версия ПО контроллера"), software},
    };
    QString html = QStringLiteral("<table class=\"summary\">\n");
    for (const auto &row : rows)
        html += QStringLiteral("<tr><th>") + Esc(row.first) + QStringLiteral("</th>") +
                Cell(row.second) + QStringLiteral("</tr>\n");
    return html + QStringLiteral("</table>\n");
}

QString StatusFields(const StatusSnapshot &s)
{
    const RegisterMap map = StatusRegisterMap();
    QString html =
        QStringLiteral("<h2>Состояние контроллера</h2>\n<table class=\"status\">\n") +
        Head({QStringLiteral("Группа"), QStringLiteral("Величина"), QStringLiteral("Значение")}) +
        QStringLiteral("<tbody>\n");
    for (FieldGroup g : {FieldGroup::Set, FieldGroup::Section, FieldGroup::Buses,
                         FieldGroup::Synchroniser, FieldGroup::LoadSharing, FieldGroup::Service}) {
        for (size_t i = 0; i < map.count; ++i) {
            if (map.first[i].group != g)
                continue;
            html += QStringLiteral("<tr>") + Cell(FieldGroupCaption(g)) +
                    Cell(map.first[i].heading()) + Cell(s.fieldText(int(i)).trimmed(), "num") +
                    QStringLiteral("</tr>\n");
        }
    }
    return html + QStringLiteral("</tbody></table>\n");
}

// Lamps that are lit, as a list of captions; `cls` colours each item.
QString LampList(const QString &title, const QList<QPair<QString, const char *>> &lit)
{
    QString html = QStringLiteral("<h2>") + Esc(title) + QStringLiteral("</h2>\n");
    if (lit.isEmpty())
        return html + None(QStringLiteral("нет"));
    html += QStringLiteral("<ul>\n");
    for (const auto &item : lit)
        html += (item.second ? QStringLiteral("<li class=\"%1\">").arg(QLatin1String(item.second))
                             : QStringLiteral("<li>")) +
                Esc(item.first) + QStringLiteral("</li>\n");
    return html + QStringLiteral("</ul>\n");
}

QString Indicators(const StatusSnapshot &s)
{
    QList<QPair<QString, const char *>> alarms;
    for (int level : {2, 1}) {
        const char *cls = level == 2 ? "alarm" : "warning";
        const QString kind =
            level == 2 ? QStringLiteral("Авария: ") : QStringLiteral("Неисправность: ");
        for (int k = 0; k < AlarmLamps; ++k) {
            if (s.alarmLevel(k) == level && *AlarmName(k))
                alarms << qMakePair(kind + Utf8(AlarmName(k)), cls);
        }
        for (int k = 0; k < Alarm1Lamps; ++k) {
            if (s.alarmLevel(k, true) == level)
                alarms << qMakePair(kind + Utf8(Alarm1Name(k)), cls);
        }
    }
    if (s.nodeConflict)
        alarms << qMakePair(QStringLiteral("На шине уже есть устройство(а) с тем же приоритетом"),
                            "alarm");
    QList<QPair<QString, const char *>> flags;
    for (int k = 0; k < ControlFlagLamps; ++k) {
        if (s.flagOn(k))
            flags << qMakePair(Utf8(ControlFlagName(k)), nullptr);
    }
    QList<QPair<QString, const char *>> inputs;
    for (int k = 0; k < DiscreteInputLamps; ++k) {
        if (s.inputOn(k))
            inputs << qMakePair(Utf8(DiscreteInputName(k)), nullptr);
    }
    return LampList(QStringLiteral("Аварии и неисправности"), alarms) +
           LampList(QStringLiteral("Флаги управления"), flags) +
           LampList(QStringLiteral("Дискретные входы (включены)"), inputs);
}

QString Units(const StatusSnapshot &s)
{
    QString html = QStringLiteral("<h2>Распределение: ЭА группы</h2>\n<table class=\"units\">\n") +
                   Head({QStringLiteral("№"), QStringLiteral("Номин. P"), QStringLiteral("Акт. P"),
                         QStringLiteral("Флаги"), QStringLiteral("Связь")}) +
                   QStringLiteral("<tbody>\n");
    for (int u = 0; u < StatusUnits; ++u) {
        const UnitReading &r = s.units[size_t(u)];
        html += QStringLiteral("<tr>") + Cell(QString::number(u), "num") +
                Cell(UnitPowerText(r.maxPower).trimmed(), "num") +
                Cell(UnitPowerText(r.activePower).trimmed(), "num") +
                Cell(UnitStateLetters(r.state)) +
                Cell(r.green ? QStringLiteral("на связи") : QStringLiteral("не на связи")) +
                QStringLiteral("</tr>\n");
    }
    return html + QStringLiteral("</tbody></table>\n") +
           None(QStringLiteral("Флаги: А - автозапуск, К - контактор включен, С - секция "
                               "подключена, З - запрос на резерв, Н - неисправность/авария, "
                               "Р - разгрузка, Б - блокировка включения, О - отключение, "
                               "* - упр. активной мощн. отключено, с - идет подключение к "
                               "секции, к - идет подключение к ДГУ"));
}

QString Params(const ServiceReport &r)
{
    QString html = QStringLiteral("<h2>Программируемые параметры</h2>\n");
    if (r.params.size() != ParamTable::Count)
        return html + None(QStringLiteral("Параметры не прочитаны из контроллера."));
    const ParamTable table;
    const bool against = r.against.has_value();
    if (against)
        html += QStringLiteral("<p>Сравнение с файлом «") + Esc(r.againstName) +
                QStringLiteral("». <b>Отличаются: ") +
                QString::number(ReportDifferences(r).size()) + QStringLiteral("</b></p>\n");
    QStringList headings{QStringLiteral("№"), QStringLiteral("Параметр"),
                         QStringLiteral("Контроллер")};
    if (against)
        headings << QStringLiteral("Файл") << QStringLiteral("Отличие");
    html +=
        QStringLiteral("<table class=\"params\">\n") + Head(headings) + QStringLiteral("<tbody>\n");
    for (int i = 0; i < ParamTable::Count; ++i) {
        const QString value = r.params.at(i).trimmed();
        QString row = Cell(QString::number(i), "num") + Cell(table.caption(i)) + Cell(value, "num");
        bool differs = false;
        if (against) {
            const bool present = r.against->present[size_t(i)];
            const QString fileValue = r.against->values[size_t(i)];
            differs = CompareParamValue(present, fileValue, r.params.at(i)) != ParamState::Equal;
            row += present ? Cell(fileValue.trimmed(), "num")
                           : QStringLiteral("<td class=\"none\">нет в файле</td>");
            row +=
                differs ? QStringLiteral("<td class=\"mark\">≠</td>") : QStringLiteral("<td></td>");
        }
        html += (differs ? QStringLiteral("<tr class=\"diff\">") : QStringLiteral("<tr>")) + row +
                QStringLiteral("</tr>\n");
    }
    return html + QStringLiteral("</tbody></table>\n");
}

QString Link(const LinkFigures &f)
{
    QString exceptions = Number(f.exceptions);
    if (!f.exceptionsByCode.isEmpty()) {
        QStringList codes;
        for (const auto &c : f.exceptionsByCode)
            codes << QStringLiteral("код %1: %2").arg(c.first).arg(c.second);
        exceptions += QStringLiteral(" (") + codes.join(QStringLiteral(", ")) + QLatin1Char(')');
    }
    const QList<QPair<QString, QString>> rows = {
        {QStringLiteral("Обменов"), Number(f.exchanges)},
        {QStringLiteral("Успешных"), Number(f.good)},
        {QStringLiteral("Нет ответа"), Number(f.noReply)},
        {QStringLiteral("Несовпадение КС"), Number(f.badCrc)},
        {QStringLiteral("Неполный ответ"), Number(f.shortReply)},
        {QStringLiteral("Отказ контроллера (исключение)"), exceptions},
        {QStringLiteral("Посторонние кадры"), Number(f.stray)},
        {QStringLiteral("Повторы запросов"), Number(f.repeats)},
        {QStringLiteral("Наибольшая серия неудач подряд"), Number(f.longestFailRun)},
        {QStringLiteral("Время ответа, мин, мс"), Ms(f.replyMinUs)},
        {QStringLiteral("Время ответа, медиана, мс"), Ms(f.replyMedianUs)},
        {QStringLiteral("Время ответа, 95 %, мс"), Ms(f.replyP95Us)},
        {QStringLiteral("Время ответа, макс, мс"), Ms(f.replyMaxUs)},
        {QStringLiteral("Байт отправлено / принято"),
         Number(f.bytesSent) + QStringLiteral(" / ") + Number(f.bytesReceived)},
    };
    QString html = QStringLiteral("<h2>Связь с контроллером</h2>\n<table class=\"link\">\n");
    for (const auto &row : rows)
        html += QStringLiteral("<tr><th>") + Esc(row.first) + QStringLiteral("</th>") +
                Cell(row.second, "num") + QStringLiteral("</tr>\n");
    return html + QStringLiteral("</table>\n");
}

QString Journal(const QList<QStringList> &rows)
{
    QString html = QStringLiteral("<h2>Журнал событий</h2>\n");
    if (rows.isEmpty())
        return html + None(QStringLiteral("Событий нет."));
    html += QStringLiteral("<table class=\"journal\">\n") + Head(JournalHeadings()) +
            QStringLiteral("<tbody>\n");
    for (const QStringList &cells : rows) {
        const bool firstOut = !cells.value(FirstOutColumn).trimmed().isEmpty();
        html += firstOut ? QStringLiteral("<tr class=\"first-out\">") : QStringLiteral("<tr>");
        for (int c = 0; c < JournalColumns; ++c)
            html += Cell(c == FirstOutColumn && firstOut ? QStringLiteral("▶ ") + cells.value(c)
                                                         : cells.value(c));
        html += QStringLiteral("</tr>\n");
    }
    return html + QStringLiteral("</tbody></table>\n");
}

} // namespace

QList<int> ReportDifferences(const ServiceReport &report)
{
    QList<int> indices;
    if (!report.against || report.params.size() != ParamTable::Count)
        return indices;
    for (int i = 0; i < ParamTable::Count; ++i) {
        if (CompareParamValue(report.against->present[size_t(i)], report.against->values[size_t(i)],
                              report.params.at(i)) != ParamState::Equal)
            indices << i;
    }
    return indices;
}

QString ReportHtml(const ServiceReport &r)
{
    const QString title =
        QStringLiteral("Сервисный отчёт: контроллер Вортан, адрес %1").arg(r.address);
    QString html = QStringLiteral("<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta "
                                  "charset=\"utf-8\">\n<title>") +
                   Esc(title) + QStringLiteral("</title>\n<style>") + QLatin1String(Style) +
                   QStringLiteral("</style>\n</head>\n<body>\n<h1>") + Esc(title) +
                   QStringLiteral("</h1>\n") + Summary(r);
    if (r.status)
        html += StatusFields(*r.status) + Indicators(*r.status) + Units(*r.status);
    else
        html += QStringLiteral("<h2>Состояние контроллера</h2>\n") +
                None(QStringLiteral("Состояние не прочитано: контроллер не прислал ни одного "
                                    "полного блока состояния."));
    html += Params(r);
    if (r.link)
        html += Link(*r.link);
    html += r.journal ? Journal(*r.journal)
                      : QStringLiteral("<h2>Журнал событий</h2>\n") +
                            None(QStringLiteral("Журнал событий не приложен."));
    if (!r.trendPng.isEmpty())
        html += QStringLiteral("<h2>Тренды</h2>\n<p><img class=\"trend\" alt=\"Тренды\" "
                               "src=\"data:image/png;base64,") +
                QString::fromLatin1(r.trendPng.toBase64()) + QStringLiteral("\"></p>\n");
    return html + QStringLiteral("</body>\n</html>\n");
}

} // namespace vortan
