#pragma once

#include <QDateTime>
#include <QString>
#include <cstdint>

namespace gst
{

// A database value in its column's own type. Conversions follow the retail
// application's rules: overflow and type-mismatch errors, true equals -1.
class Value
{
public:
    enum class Kind { Null, Bool, Integer, Decimal, Double, Text, DateTime };

    Value() = default; // NULL
    static Value null() { return Value(); }
    static Value boolean(bool b);
    static Value integer(std::int64_t i);
    static Value decimal(const QString& digits); // exact text such as "-12.5000"
    static Value real(double d);
    static Value text(const QString& s);
    static Value dateTime(const QDateTime& dt);

    Kind kind() const { return m_kind; }
    bool isNull() const { return m_kind == Kind::Null; }

    // Conversions; each raises the error the retail application would.
    std::int16_t toInt16() const; // overflow 6, type mismatch 13, invalid use of null 94
    std::int32_t toInt32() const;
    double toDouble() const;      // type mismatch 13 for text that is not a number
    QString toText() const;       // invalid use of null 94
    QDateTime toDateTime() const; // type mismatch 13 for unreadable text
    bool toBool() const;          // non-zero is true

    // Comparisons as the application makes them: numeric text compares as a number.
    bool equalsTrue() const; // a set bit, or a number equal to -1
    bool isNonZero() const;  // NULL counts as zero
    bool greaterThan(double n) const;
    bool equalsNumber(double n) const;

    // Text for diagnostics and tests, never shown to the operator as data.
    QString debugString() const;

    // The zero date of the date-time type, 30 December 1899 00:00.
    static QDateTime zeroDate();

private:
    bool numericValue(double* out) const;
    std::int64_t toInteger(std::int64_t min, std::int64_t max) const;

    Kind m_kind = Kind::Null;
    bool m_bool = false;
    std::int64_t m_int = 0;
    double m_double = 0.0;
    QString m_text; // text, and the exact digits of a decimal
    QDateTime m_dateTime;
};

// Reads date-time text as the database and the application write it
// ("2018-07-27 00:00:00", "2018-07-27T10:15:00.123", "07/27/2018"). Returns an
// invalid QDateTime when the text is not a date.
QDateTime parseDateTimeText(const QString& text);

} // namespace gst
