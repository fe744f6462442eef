#include "platform/Value.h"

#include "platform/Error.h"

#include <cmath>
#include <limits>

namespace gst
{

namespace
{

bool parseNumberText(const QString& text, double* out)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return false;
    bool ok = false;
    const double d = t.toDouble(&ok);
    if (!ok || !std::isfinite(d))
        return false;
    *out = d;
    return true;
}

// Text the application treats as a truth value.
bool parseBoolText(const QString& text, bool* out)
{
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) {
        *out = true;
        return true;
    }
    if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) {
        *out = false;
        return true;
    }
    return false;
}

// The date and time as written, in UTC as every date-time here: read as
// local time, a time in a daylight-saving gap would not exist.
QDateTime dateTimeAsWritten(const QString& text, const QString& format)
{
    const int hours = format.indexOf(QLatin1Char('H'));
    if (hours < 0) {
        const QDate date = QDate::fromString(text, format);
        return date.isValid() ? QDateTime(date, QTime(0, 0), Qt::UTC) : QDateTime();
    }
    // The character before the hours parts the date from the time.
    const int at = text.indexOf(format.at(hours - 1));
    if (at < 0)
        return QDateTime();
    const QDate date = QDate::fromString(text.left(at), format.left(hours - 1));
    const QTime time = QTime::fromString(text.mid(at + 1), format.mid(hours));
    if (!date.isValid() || !time.isValid())
        return QDateTime();
    return QDateTime(date, time, Qt::UTC);
}

double serialFromDateTime(const QDateTime& dt)
{
    const QDateTime zero = Value::zeroDate();
    const qint64 ms = zero.msecsTo(dt);
    return static_cast<double>(ms) / 86400000.0;
}

// Rounds half to even, as the application's integer conversions do.
double roundHalfEven(double d)
{
    const double r = std::nearbyint(d);
    return r;
}

} // namespace

QDateTime Value::zeroDate()
{
    return QDateTime(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC);
}

Value Value::boolean(bool b)
{
    Value v;
    v.m_kind = Kind::Bool;
    v.m_bool = b;
    return v;
}

Value Value::integer(std::int64_t i)
{
    Value v;
    v.m_kind = Kind::Integer;
    v.m_int = i;
    return v;
}

Value Value::decimal(const QString& digits)
{
    Value v;
    v.m_kind = Kind::Decimal;
    v.m_text = digits.trimmed();
    return v;
}

Value Value::real(double d)
{
    Value v;
    v.m_kind = Kind::Double;
    v.m_double = d;
    return v;
}

Value Value::text(const QString& s)
{
    Value v;
    v.m_kind = Kind::Text;
    v.m_text = s;
    return v;
}

Value Value::dateTime(const QDateTime& dt)
{
    Value v;
    v.m_kind = Kind::DateTime;
    v.m_dateTime = dt;
    return v;
}

bool Value::numericValue(double* out) const
{
    switch (m_kind) {
    case Kind::Null:
        return false;
    case Kind::Bool:
        *out = m_bool ? -1.0 : 0.0;
        return true;
    case Kind::Integer:
        *out = static_cast<double>(m_int);
        return true;
    case Kind::Decimal:
    case Kind::Text:
        return parseNumberText(m_text, out);
    case Kind::Double:
        *out = m_double;
        return true;
    case Kind::DateTime:
        *out = serialFromDateTime(m_dateTime);
        return true;
    }
    return false;
}

std::int64_t Value::toInteger(std::int64_t min, std::int64_t max) const
{
    if (m_kind == Kind::Null)
        raiseInvalidUseOfNull();
    if (m_kind == Kind::Integer) {
        if (m_int < min || m_int > max)
            raiseOverflow();
        return m_int;
    }
    if (m_kind == Kind::Text) {
        bool b = false;
        if (parseBoolText(m_text, &b))
            return b ? -1 : 0;
    }
    double d = 0;
    if (!numericValue(&d))
        raiseTypeMismatch();
    const double r = roundHalfEven(d);
    if (!(r >= static_cast<double>(min) && r <= static_cast<double>(max)))
        raiseOverflow();
    return static_cast<std::int64_t>(r);
}

std::int16_t Value::toInt16() const
{
    return static_cast<std::int16_t>(
        toInteger(std::numeric_limits<std::int16_t>::min(), std::numeric_limits<std::int16_t>::max()));
}

std::int32_t Value::toInt32() const
{
    return static_cast<std::int32_t>(
        toInteger(std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

double Value::toDouble() const
{
    if (m_kind == Kind::Null)
        raiseInvalidUseOfNull();
    double d = 0;
    if (!numericValue(&d))
        raiseTypeMismatch();
    return d;
}

QString Value::toText() const
{
    switch (m_kind) {
    case Kind::Null:
        raiseInvalidUseOfNull();
    case Kind::Bool:
        return m_bool ? QStringLiteral("True") : QStringLiteral("False");
    case Kind::Integer:
        return QString::number(m_int);
    case Kind::Decimal: {
        // An exact decimal shows without trailing zeros: 5.0000 is "5".
        QString t = m_text;
        if (t.contains(QLatin1Char('.'))) {
            while (t.endsWith(QLatin1Char('0')))
                t.chop(1);
            if (t.endsWith(QLatin1Char('.')))
                t.chop(1);
        }
        if (t.startsWith(QLatin1Char('.')))
            t.prepend(QLatin1Char('0'));
        else if (t.startsWith(QLatin1String("-.")))
            t.insert(1, QLatin1Char('0'));
        if (t == QLatin1String("-0"))
            t = QStringLiteral("0");
        return t;
    }
    case Kind::Double:
        return QString::number(m_double, 'g', 15);
    case Kind::Text:
        return m_text;
    case Kind::DateTime:
        if (m_dateTime.time() == QTime(0, 0))
            return m_dateTime.toString(QStringLiteral("yyyy-MM-dd"));
        return m_dateTime.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    }
    return QString();
}

QDateTime Value::toDateTime() const
{
    switch (m_kind) {
    case Kind::Null:
        raiseInvalidUseOfNull();
    case Kind::DateTime:
        return m_dateTime;
    case Kind::Text: {
        const QDateTime dt = parseDateTimeText(m_text);
        if (!dt.isValid())
            raiseTypeMismatch();
        return dt;
    }
    default: {
        double d = 0;
        if (!numericValue(&d))
            raiseTypeMismatch();
        // A day count from the zero date; the fraction is the time of day.
        if (!(d > -657435.0 && d < 2958466.0))
            raiseOverflow();
        const qint64 ms = static_cast<qint64>(std::llround(d * 86400000.0));
        return zeroDate().addMSecs(ms);
    }
    }
}

bool Value::toBool() const
{
    if (m_kind == Kind::Null)
        raiseInvalidUseOfNull();
    if (m_kind == Kind::Bool)
        return m_bool;
    if (m_kind == Kind::Text) {
        bool b = false;
        if (parseBoolText(m_text, &b))
            return b;
    }
    double d = 0;
    if (!numericValue(&d))
        raiseTypeMismatch();
    return d != 0.0;
}

bool Value::equalsTrue() const
{
    if (m_kind == Kind::Bool)
        return m_bool;
    if (m_kind == Kind::Text) {
        bool b = false;
        if (parseBoolText(m_text, &b))
            return b;
    }
    double d = 0;
    if (!numericValue(&d))
        return false;
    return d == -1.0;
}

bool Value::isNonZero() const
{
    if (m_kind == Kind::Null)
        return false;
    if (m_kind == Kind::Text) {
        bool b = false;
        if (parseBoolText(m_text, &b))
            return b;
    }
    double d = 0;
    if (!numericValue(&d))
        raiseTypeMismatch();
    return d != 0.0;
}

bool Value::greaterThan(double n) const
{
    if (m_kind == Kind::Null)
        return false;
    double d = 0;
    if (!numericValue(&d))
        raiseTypeMismatch();
    return d > n;
}

bool Value::equalsNumber(double n) const
{
    if (m_kind == Kind::Null)
        return false;
    double d = 0;
    if (!numericValue(&d))
        raiseTypeMismatch();
    return d == n;
}

QString Value::debugString() const
{
    switch (m_kind) {
    case Kind::Null:
        return QStringLiteral("Null");
    case Kind::Bool:
        return QStringLiteral("Bool(%1)").arg(m_bool ? "true" : "false");
    case Kind::Integer:
        return QStringLiteral("Integer(%1)").arg(m_int);
    case Kind::Decimal:
        return QStringLiteral("Decimal(%1)").arg(m_text);
    case Kind::Double:
        return QStringLiteral("Double(%1)").arg(m_double, 0, 'g', 17);
    case Kind::Text:
        return QStringLiteral("Text(%1)").arg(m_text);
    case Kind::DateTime:
        return QStringLiteral("DateTime(%1)").arg(m_dateTime.toString(Qt::ISODateWithMs));
    }
    return QString();
}

QDateTime parseDateTimeText(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return QDateTime();
    static const char* const formats[] = {
        "yyyy-MM-dd HH:mm:ss.zzz",
        "yyyy-MM-dd HH:mm:ss",
        "yyyy-MM-ddTHH:mm:ss.zzz",
        "yyyy-MM-ddTHH:mm:ss",
        "yyyy-MM-dd HH:mm",
        "yyyy-MM-ddTHH:mm",
        "yyyy-MM-dd",
        "MM/dd/yyyy HH:mm:ss",
        "MM/dd/yyyy HH:mm",
        "MM/dd/yyyy",
        "M/d/yyyy",
        "M/d/yyyy H:mm:ss",
    };
    for (const char* f : formats) {
        const QString format = QString::fromLatin1(f);
        QDateTime dt = dateTimeAsWritten(t, format);
        if (!dt.isValid()) {
            // Fractions of a second of any length, as drivers write them.
            if (format.endsWith(QLatin1String(".zzz"))) {
                const int dot = t.lastIndexOf(QLatin1Char('.'));
                if (dot > 0) {
                    QString frac = t.mid(dot + 1);
                    bool digits = !frac.isEmpty();
                    for (QChar c : frac)
                        digits = digits && c.isDigit();
                    if (digits) {
                        frac = (frac + QLatin1String("000")).left(3);
                        dt = dateTimeAsWritten(t.left(dot) + QLatin1Char('.') + frac, format);
                    }
                }
            }
        }
        if (dt.isValid())
            return dt;
    }
    return QDateTime();
}

} // namespace gst
