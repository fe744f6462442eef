#pragma once

#include <QString>
#include <cstdint>

// The steps of moving one line of business from the old GST slab (tax record
// 5010) to the new one (5019). Form1::Command1_Click runs them in order; the
// refusals end the program, the reads pass database errors to the caller.
namespace conversion
{

class RunRecord;

constexpr std::int16_t kOldSlabId = 5010; // "GST 5% (18% above Rs 500)"
constexpr std::int16_t kNewSlabId = 5019; // "GST 5% (18% above Rs 1000)"

// An identifier built from data, quoted: [name] with "]" doubled. On SQLite a
// name holding anything but letters, digits, blanks and underscores is
// written "name" with '"' doubled, since its driver looks into brackets.
QString quoteIdentifier(const QString& name, bool sqlite);
// The value table of a GST attribute: its name followed by "Master", unquoted.
QString attributeTableName(const QString& gstAttribute);

// The reminder to tick "I Agree" (information box); nothing is converted.
void showAgreementReminder();
// The warning that the conversion cannot be undone; true when the operator answers Yes.
bool confirmConversion();
// Whether the line of business holds GST per product, read again at OK.
bool readProductWise(std::int16_t lobId);
// The new slab's id; when vatmaster lacks it the operator is told and the program ends.
std::int16_t readNewSlabIdOrRefuse(RunRecord& run);
// Ends the program when rows of the line of business already carry the new
// slab, or when an attribute-wise line has no usable attribute value table.
void refuseIfAlreadyOnNewSlab(std::int16_t lobId, bool productWise, const QString& gstAttribute,
                              std::int16_t newSlabId, RunRecord& run);
// Both updates in one transaction on gConnection, their row counts noted in
// `run`. False after any failure, with the transaction rolled back and the
// failure noted; a failed rollback, or a commit that may have landed, raises
// its error (nothing committed by this program afterwards).
bool moveRowsToNewSlab(std::int16_t lobId, bool productWise, const QString& gstAttribute,
                       std::int16_t newSlabId, RunRecord& run);
// The outcome's boxes, which the caller shows: "Done", or "Try Again" naming the line.
void showDone();
void showTryAgain(const QString& lobName);

} // namespace conversion
