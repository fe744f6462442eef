#include "platform/Error.h"
#include "platform/Value.h"

#include <gtest/gtest.h>
#include <time.h>

using gst::AppError;
using gst::Value;

namespace
{

long errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const AppError& e) {
        return e.number();
    }
    return 0;
}

struct Int16Case {
    const char* name;
    Value value;
    long expectedError; // 0: converts
    int expected;
};

TEST(ValueTest, Int16ConversionRaisesOverflowMismatchAndNull)
{
    const Int16Case cases[] = {
        {"int", Value::integer(5010), 0, 5010},
        {"max", Value::integer(32767), 0, 32767},
        {"min", Value::integer(-32768), 0, -32768},
        {"above range", Value::integer(32768), gst::err::kOverflow, 0},
        {"below range", Value::integer(-32769), gst::err::kOverflow, 0},
        {"numeric text", Value::text(" 42 "), 0, 42},
        {"text", Value::text("abc"), gst::err::kTypeMismatch, 0},
        {"empty text", Value::text(""), gst::err::kTypeMismatch, 0},
        {"null", Value::null(), gst::err::kInvalidUseOfNull, 0},
        {"true", Value::boolean(true), 0, -1},
        {"decimal half even down", Value::decimal("2.5000"), 0, 2},
        {"decimal half even up", Value::decimal("3.5"), 0, 4},
        {"double overflow", Value::real(40000.0), gst::err::kOverflow, 0},
    };
    for (const Int16Case& c : cases) {
        SCOPED_TRACE(c.name);
        int got = 0;
        const long error = errorOf([&] { got = c.value.toInt16(); });
        EXPECT_EQ(error, c.expectedError);
        if (c.expectedError == 0) {
            EXPECT_EQ(got, c.expected);
        }
    }
}

TEST(ValueTest, Int32HoldsWhatInt16Cannot)
{
    EXPECT_EQ(Value::integer(70000).toInt32(), 70000);
    EXPECT_EQ(errorOf([] { Value::integer(2147483648LL).toInt32(); }), gst::err::kOverflow);
    EXPECT_EQ(errorOf([] { Value::text("12x").toInt32(); }), gst::err::kTypeMismatch);
}

TEST(ValueTest, TrueIsASetBitOrMinusOneButNotPlusOne)
{
    EXPECT_TRUE(Value::boolean(true).equalsTrue());
    EXPECT_FALSE(Value::boolean(false).equalsTrue());
    EXPECT_TRUE(Value::integer(-1).equalsTrue());
    EXPECT_FALSE(Value::integer(1).equalsTrue());
    EXPECT_FALSE(Value::integer(0).equalsTrue());
    EXPECT_TRUE(Value::text("-1").equalsTrue());
    EXPECT_TRUE(Value::text("True").equalsTrue());
    EXPECT_FALSE(Value::text("yes").equalsTrue());
    EXPECT_FALSE(Value::null().equalsTrue());
}

TEST(ValueTest, NumericTextComparesAsANumber)
{
    EXPECT_TRUE(Value::text("2").greaterThan(1));
    EXPECT_FALSE(Value::text("10").greaterThan(10));
    EXPECT_TRUE(Value::text("10").equalsNumber(10));
    EXPECT_TRUE(Value::decimal("5.0000").equalsNumber(5));
    EXPECT_EQ(errorOf([] { Value::text("two").greaterThan(1); }), gst::err::kTypeMismatch);
    EXPECT_FALSE(Value::null().greaterThan(0));
}

TEST(ValueTest, TextForm)
{
    EXPECT_EQ(Value::integer(-7).toText(), "-7");
    EXPECT_EQ(Value::decimal("5.0000").toText(), "5");
    EXPECT_EQ(Value::decimal("2.50").toText(), "2.5");
    EXPECT_EQ(Value::boolean(true).toText(), "True");
    EXPECT_EQ(Value::text("  Fabric ").toText(), "  Fabric ");
    EXPECT_EQ(errorOf([] { Value::null().toText(); }), gst::err::kInvalidUseOfNull);
}

TEST(ValueTest, DateTimeConversions)
{
    // 0 is the zero date, far before any bill date.
    EXPECT_EQ(Value::integer(0).toDateTime(), Value::zeroDate());
    EXPECT_EQ(Value::zeroDate().date(), QDate(1899, 12, 30));
    EXPECT_EQ(Value::real(1.5).toDateTime(), QDateTime(QDate(1899, 12, 31), QTime(12, 0), Qt::UTC));
    EXPECT_EQ(Value::text("2018-07-26 23:59:00").toDateTime(),
              QDateTime(QDate(2018, 7, 26), QTime(23, 59), Qt::UTC));
    EXPECT_EQ(Value::text("2018-07-27T10:15:00.5").toDateTime(),
              QDateTime(QDate(2018, 7, 27), QTime(10, 15, 0, 500), Qt::UTC));
    EXPECT_EQ(Value::text("07/27/2018").toDateTime(), QDateTime(QDate(2018, 7, 27), QTime(0, 0), Qt::UTC));
    EXPECT_EQ(errorOf([] { Value::text("not a date").toDateTime(); }), gst::err::kTypeMismatch);
    EXPECT_EQ(errorOf([] { Value::text("2018-13-45").toDateTime(); }), gst::err::kTypeMismatch);
    EXPECT_EQ(errorOf([] { Value::null().toDateTime(); }), gst::err::kInvalidUseOfNull);
    // Stored text is no local time: a daylight-saving gap does not apply to it.
    const struct ZoneBack {
        QByteArray zone = qgetenv("TZ");
        ~ZoneBack()
        {
            zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone);
            tzset();
        }
    } zoneBack;
    qputenv("TZ", "Europe/Berlin");
    tzset();
    EXPECT_EQ(Value::text("2018-03-25 02:30:00").toDateTime(),
              QDateTime(QDate(2018, 3, 25), QTime(2, 30), Qt::UTC));
}

TEST(ValueTest, NonZero)
{
    EXPECT_FALSE(Value::null().isNonZero());
    EXPECT_FALSE(Value::integer(0).isNonZero());
    EXPECT_TRUE(Value::integer(1).isNonZero());
    EXPECT_TRUE(Value::boolean(true).isNonZero());
    EXPECT_FALSE(Value::text("0").isNonZero());
    EXPECT_EQ(errorOf([] { Value::text("x").isNonZero(); }), gst::err::kTypeMismatch);
}

} // namespace
