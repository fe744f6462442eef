#include "conversion/RunRecord.h"

#include "conversion/Conversion.h"
#include "platform/Error.h"
#include "platform/RunLog.h"
#include "state/ConnectionState.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <cstdlib>
#include <utility>
#include <vector>

namespace conversion
{

namespace
{

// Long enough for any name SQL Server can hold and a driver's diagnostics;
// a hostile name of megabytes must not fill the file.
constexpr int kLongestText = 2000;

QString bounded(const QString& text)
{
    if (text.size() <= kLongestText)
        return text;
    int cut = kLongestText;
    if (text.at(cut - 1).isHighSurrogate())
        --cut;
    return text.left(cut) + QChar(0x2026);
}

QString field(const QString& text)
{
    return jsonString(bounded(text));
}

// A driver's error text may quote what was sent to it, the database password
// among it: such a text is withheld whole. The program's own fields never are.
QString driverText(const QString& text)
{
    if (!gDbPassword.isEmpty() && text.contains(gDbPassword))
        return jsonString(QStringLiteral("(withheld: holds the database password)"));
    return field(text);
}

bool needsEscape(char16_t u)
{
    return u < 0x20 || (u >= 0x7f && u <= 0x9f) || u == 0x061c || u == 0x200e || u == 0x200f ||
           (u >= 0x2028 && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069) || u == 0xfeff;
}

QString localTimeWithOffset(const QDateTime& t)
{
    const int offset = t.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) +
           (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

QString jsonString(const QString& text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text.at(i);
        const char16_t u = ch.unicode();
        if (ch.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            out += ch;
            out += text.at(++i);
        } else if (ch.isSurrogate()) {
            out += QLatin1String("\\ufffd");
        } else if (u == u'"') {
            out += QLatin1String("\\\"");
        } else if (u == u'\\') {
            out += QLatin1String("\\\\");
        } else if (u == u'\n') {
            out += QLatin1String("\\n");
        } else if (u == u'\r') {
            out += QLatin1String("\\r");
        } else if (u == u'\t') {
            out += QLatin1String("\\t");
        } else if (needsEscape(u)) {
            out += QStringLiteral("\\u%1").arg(static_cast<int>(u), 4, 16, QLatin1Char('0'));
        } else {
            out += ch;
        }
    }
    out += QLatin1Char('"');
    return out;
}

struct RunRecord::Data {
    QDateTime started;
    QElapsedTimer clock;
    std::int16_t lobId = 0;
    QString lobName;
    bool productWise = true;
    QString gstAttribute;
    std::vector<std::pair<QString, qint64>> rows;
    bool hasFailure = false;
    long failureNumber = 0;
    QString failureText;
    bool written = false;
    // An error report after every update had run (a commit whose answer was
    // lost, then a failed rollback): whether the rows moved is not known.
    bool rowsUncertain = false;

    QByteArray line(const QString& result, const QString& outcome, const long* errorNumber) const;
    void write(const QString& result, const QString& outcome, const long* errorNumber);
};

RunRecord::RunRecord(std::int16_t lobId, const QString& lobName) : m_d(std::make_unique<Data>())
{
    m_d->started = QDateTime::currentDateTime();
    m_d->clock.start();
    m_d->lobId = lobId;
    m_d->lobName = lobName;
}

RunRecord::~RunRecord() = default;

void RunRecord::setArrangement(bool productWise, const QString& gstAttribute)
{
    m_d->productWise = productWise;
    m_d->gstAttribute = gstAttribute;
}

void RunRecord::setRows(const QString& table, qint64 rows)
{
    m_d->rows.emplace_back(table, rows);
}

void RunRecord::setFailure(long number, const QString& text)
{
    m_d->hasFailure = true;
    m_d->failureNumber = number;
    m_d->failureText = text;
}

void RunRecord::setFailure(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const gst::AppError& e) {
        setFailure(e.number(), e.description());
    } catch (const std::exception& e) {
        setFailure(gst::err::kGenericFailure, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        setFailure(gst::err::kGenericFailure, QStringLiteral("Unexpected failure"));
    }
}

void RunRecord::writeDone()
{
    m_d->write(QStringLiteral("done"), QStringLiteral("Done"), nullptr);
}

void RunRecord::writeRefused(const QString& text)
{
    m_d->write(QStringLiteral("refused"), text, nullptr);
}

void RunRecord::writeFailed()
{
    if (!m_d->hasFailure)
        setFailure(gst::err::kGenericFailure, QStringLiteral("Unexpected failure"));
    writeFailed(m_d->failureNumber, m_d->failureText);
}

void RunRecord::writeFailed(long number, const QString& text)
{
    m_d->write(QStringLiteral("failed"), text, &number);
}

void RunRecord::writeEndedBy(const std::exception_ptr& error)
{
    setFailure(error);
    m_d->rowsUncertain = m_d->rows.size() == (m_d->productWise ? 1u : 2u);
    writeFailed();
}

QByteArray RunRecord::line(const QString& result, const QString& outcome, const long* errorNumber) const
{
    return m_d->line(result, outcome, errorNumber);
}

void RunRecord::Data::write(const QString& result, const QString& outcome, const long* errorNumber)
{
    if (written)
        return;
    written = true;
    try {
        gst::appendRunLog(line(result, outcome, errorNumber));
    } catch (...) {
        // The record never changes the run.
    }
}

QByteArray RunRecord::Data::line(const QString& result, const QString& outcome, const long* errorNumber) const
{
    QString s = QStringLiteral("{\"time\":") + jsonString(localTimeWithOffset(started));
    s += QStringLiteral(",\"durationMs\":") + QString::number(clock.isValid() ? clock.elapsed() : 0);
    s += QStringLiteral(",\"server\":") + field(gServerName);
    s += QStringLiteral(",\"database\":") + field(gDatabaseName);
    s += QStringLiteral(",\"osUser\":") + field(gst::operatingSystemUser());
    s += QStringLiteral(",\"appUser\":") + field(gLoginName);
    s += QStringLiteral(",\"lobId\":") + QString::number(lobId);
    s += QStringLiteral(",\"lob\":") + field(lobName);
    if (productWise) {
        s += QStringLiteral(",\"gst\":\"product-wise\"");
    } else {
        s += QStringLiteral(",\"gst\":\"attribute\",\"attribute\":") + field(gstAttribute);
        s += QStringLiteral(",\"valueTable\":") + field(attributeTableName(gstAttribute));
    }
    // Rows count as moved only once committed; a failed run was rolled back,
    // unless the program ended when the commit may have landed.
    s += QStringLiteral(",\"rows\":{");
    const bool done = result == QLatin1String("done");
    if (done || rowsUncertain) {
        bool first = true;
        for (const auto& [table, count] : rows) {
            if (!first)
                s += QLatin1Char(',');
            first = false;
            // "products" is the program's own word; a value table's name is data.
            s += field(table) + QLatin1Char(':') +
                 (count < 0 || !done ? QStringLiteral("\"unknown\"") : QString::number(count));
        }
    }
    s += QStringLiteral("},\"result\":") + jsonString(result);
    // "Done" and the refusals are the program's own texts; an error's text is the driver's.
    s += QStringLiteral(",\"outcome\":") + (errorNumber ? driverText(outcome) : jsonString(outcome));
    if (errorNumber)
        s += QStringLiteral(",\"errorNumber\":") + QString::number(*errorNumber);
    s += QLatin1Char('}');
    return s.toUtf8();
}

} // namespace conversion
