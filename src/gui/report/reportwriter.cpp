#include "report/reportwriter.h"

#include "controller/controllermodel.h"
#include "journal/journalrows.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>
#include <QUrl>
#include <QWidget>

namespace vortan
{

namespace
{

bool WritePdf(const ServiceReport &report, const QString &html, QSaveFile &file)
{
    QPdfWriter writer(&file);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(15, 15, 12, 15), QPageLayout::Millimeter));
    writer.setTitle(QStringLiteral("Сервисный отчёт: контроллер Вортан"));
    writer.setCreator(QStringLiteral("Вортан"));
    QTextDocument document;
    // The page names the picture by its data: URI; the document is handed the image itself.
    if (!report.trendPng.isEmpty())
        document.addResource(QTextDocument::ImageResource,
                             QUrl(QStringLiteral("data:image/png;base64,") +
                                  QString::fromLatin1(report.trendPng.toBase64())),
                             QImage::fromData(report.trendPng, "PNG"));
    document.setHtml(html);
    document.print(&writer);
    return true;
}

} // namespace

ServiceReport ReportOfWindow(const ControllerModel &controller, const LinkFigures &link,
                             const JournalRows &journal, QWidget *trendChart)
{
    ServiceReport report;
    report.time = QDateTime::currentDateTime();
    if (controller.hasSnapshot())
        report.status = controller.snapshot();
    const ParamSet &params = controller.paramSet();
    for (int i = 0; i < ParamTable::Count && report.params.isEmpty(); ++i) {
        if (params.state(i) != ParamState::NotRead)
            report.params = params.texts();
    }
    report.link = link;
    QList<QStringList> rows;
    for (int r = 0; r < journal.rowCount(); ++r)
        rows << journal.event(r).cells();
    report.journal = rows;
    if (trendChart) {
        QBuffer png(&report.trendPng);
        png.open(QIODevice::WriteOnly);
        trendChart->grab().save(&png, "PNG");
    }
    return report;
}

bool WriteReportFile(const ServiceReport &report, const QString &path, QString &error)
{
    const QString html = ReportHtml(report);
    QSaveFile file(path);
    bool written = file.open(QIODevice::WriteOnly);
    if (written && path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)) {
        written = WritePdf(report, html, file);
    } else if (written) {
        const QByteArray bytes = html.toUtf8();
        written = file.write(bytes) == bytes.size();
    }
    if (written && file.commit())
        return true;
    error =
        QStringLiteral("Невозможно открыть файл %1 для записи").arg(QDir::toNativeSeparators(path));
    return false;
}

} // namespace vortan
