#include "conversion/Conversion.h"

#include "conversion/RunRecord.h"
#include "platform/Error.h"
#include "platform/ProgramEnd.h"
#include "platform/Text.h"
#include "state/ConnectionState.h"
#include "state/ModBase.h"
#include "widgets/MessageBox.h"

using gst::MsgAnswer;
using gst::MsgButtons;
using gst::MsgIcon;
using gst::number;

namespace conversion
{

namespace
{

QString quotedValueTable(const QString& gstAttribute)
{
    return quoteIdentifier(attributeTableName(gstAttribute), gConnection->isSqlite());
}

[[noreturn]] void refuse(const QString& text, const gst::MsgTitle& title, RunRecord& run)
{
    run.writeRefused(text);
    gst::showMessage(text, title, MsgIcon::Critical);
    gst::endProgram(gst::kExitRefused);
}

// A commit whose answer was lost (the link failed or timed out) may have
// landed; so may one after which the rollback fails or finds nothing open
// (3903), and FreeTDS begins a new transaction once a commit has run, which
// the rollback would then end quietly. In those cases "Try Again" would be
// false: the commit's error goes to the handler, which reports it and ends
// the program with the rows not known. A commit the database refused in so
// many words is rolled back as any other failure.
void rollBackAfterFailedCommit(gst::Connection& db, const std::exception_ptr& commitError)
{
    bool fateUnknown = false;
    try {
        std::rethrow_exception(commitError);
    } catch (const gst::AppError& e) {
        fateUnknown = e.number() == gst::err::kGenericFailure;
    } catch (...) {
        fateUnknown = true;
    }
    try {
        if (db.inTransaction())
            db.rollbackTrans();
    } catch (...) {
        fateUnknown = true;
    }
    if (fateUnknown)
        std::rethrow_exception(commitError);
}

} // namespace

QString quoteIdentifier(const QString& name, bool sqlite)
{
    // The SQLite3 ODBC driver does not take brackets as quotes: a ";", "?",
    // "{", quote or "]" inside them would split the statement, count as a
    // parameter marker or start an escape. It does take double quotes, so any
    // name beyond letters, digits, blanks and underscores goes in those.
    bool plain = true;
    for (const QChar ch : name)
        plain = plain && (ch.isLetterOrNumber() || ch == QLatin1Char(' ') || ch == QLatin1Char('_'));
    if (sqlite && !plain) {
        QString inner = name;
        inner.replace(QLatin1String("\""), QLatin1String("\"\""));
        return QLatin1Char('"') + inner + QLatin1Char('"');
    }
    QString inner = name;
    inner.replace(QLatin1String("]"), QLatin1String("]]"));
    return QLatin1Char('[') + inner + QLatin1Char(']');
}

QString attributeTableName(const QString& gstAttribute)
{
    return gstAttribute + QLatin1String("Master");
}

void showAgreementReminder()
{
    gst::showMessage(QStringLiteral("Please tick the 'I Agree' checkbox before proceeding"),
                     QStringLiteral("'GST 5% (18% above Rs 500)' to 'GST 5% (18% above Rs 1000)'"),
                     MsgIcon::Information);
}

bool confirmConversion()
{
    return gst::showMessage(QStringLiteral("Are you sure? This process is NOT Reversible!"),
                            QStringLiteral("Be VERY CAREFUL"), MsgIcon::None,
                            MsgButtons::YesNo) == MsgAnswer::Yes;
}

bool readProductWise(std::int16_t lobId)
{
    return GetScalar(QStringLiteral("Select ProductWiseVat From LobMaster Where LobId=") + number(lobId))
        .isNonZero();
}

std::int16_t readNewSlabIdOrRefuse(RunRecord& run)
{
    const std::int16_t id =
        GetScalar(QStringLiteral("select vatid from vatmaster where vatid = ") + number(kNewSlabId))
            .toInt16();
    if (id == 0)
        refuse(QStringLiteral("Unable to find GST entry with name 'GST 5% (18% above Rs 1000)'! Please "
                              "contact Norvane."),
               std::nullopt, run);
    return id;
}

void refuseIfAlreadyOnNewSlab(std::int16_t lobId, bool productWise, const QString& gstAttribute,
                              std::int16_t newSlabId, RunRecord& run)
{
    if (productWise) {
        const gst::Value count = GetScalar(QStringLiteral("Select Count(*) from Products Where LobId=") +
                                           number(lobId) + QStringLiteral(" And vatid=") + number(newSlabId));
        if (count.greaterThan(0))
            refuse(QStringLiteral("This utility cannot run!\r\nSome Products already have GST type 'GST 5% "
                                  "(18% above Rs 1000)' assigned to them."),
                   QStringLiteral("Products"), run);
        return;
    }
    // "0" is the lookup's answer for a line of business without a taxable
    // attribute; neither it nor a missing value table can be converted.
    const QString table = attributeTableName(gstAttribute);
    if (gstAttribute == QLatin1String("0") || !gConnection->tableExists(table))
        refuse(QStringLiteral("Unable to find Table Name entry for GST Attribute! Please contact Norvane."),
               gstAttribute, run);
    const gst::Value count = GetScalar(QStringLiteral("select count(*) from ") +
                                       quotedValueTable(gstAttribute) + QStringLiteral(" where lobid=") +
                                       number(lobId) + QStringLiteral(" and vatid=") + number(newSlabId));
    if (count.greaterThan(0))
        refuse(
            QStringLiteral("This utility cannot run!\r\nSome attributes already have GST type 'GST 5% (18% "
                           "above Rs 1000)' assigned to them."),
            gstAttribute, run);
}

bool moveRowsToNewSlab(std::int16_t lobId, bool productWise, const QString& gstAttribute,
                       std::int16_t newSlabId, RunRecord& run)
{
    gst::Connection& db = *gConnection;
    bool committing = false;
    try {
        db.beginTrans();
        if (!productWise)
            run.setRows(attributeTableName(gstAttribute),
                        db.execute(QStringLiteral("update ") + quotedValueTable(gstAttribute) +
                                   QStringLiteral(" set vatid=") + number(newSlabId) +
                                   QStringLiteral(",VatPer=5,GSTID=") + number(newSlabId) +
                                   QStringLiteral("  where lobid=") + number(lobId) +
                                   QStringLiteral(" and vatid=") + number(kOldSlabId)));
        run.setRows(QStringLiteral("products"),
                    db.execute(QStringLiteral("update products set vatid=") + number(newSlabId) +
                               QStringLiteral(" ,VatPer=5 where lobid=") + number(lobId) +
                               QStringLiteral(" and vatid=") + number(kOldSlabId)));
        committing = true;
        db.commitTrans();
        return true;
    } catch (...) {
        run.setFailure(std::current_exception());
        if (committing)
            rollBackAfterFailedCommit(db, std::current_exception());
        // A rollback that fails (the connection is gone) leaves the transaction
        // open with its locks held, and turning autocommit on would commit it:
        // its error escapes to the handler, which reports it and ends the
        // program, and the server rolls back when the connection ends.
        if (db.inTransaction())
            db.rollbackTrans();
        return false;
    }
}

void showDone()
{
    gst::showMessage(
        QStringLiteral("Done"),
        QStringLiteral("New GST converted from 'GST 5% (18% above Rs 500)' to 'GST 5% (18% above "
                       "Rs 1000)'"),
        MsgIcon::None);
}

void showTryAgain(const QString& lobName)
{
    gst::showMessage(QStringLiteral("Try Again"),
                     QStringLiteral("Not Successful for '") + lobName + QLatin1Char('\''), MsgIcon::Critical);
}

} // namespace conversion
