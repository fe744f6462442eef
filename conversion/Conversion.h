#pragma once

#include <QString>
#include <cstdint>

// The steps of moving one line of business from the old GST slab (tax record
// 5010) to the new one (5019). Form1::Command1_Click runs them in order; the
// refusals end the program, the reads pass database errors to the caller.
namespace conversion
{

class RunRecord;

constexpr std::int16_t kOldSlabId = 5010;

// An identifier built from data, quoted: [name] with "]" doubled. On SQLite a
// name holding anything but letters, digits, blanks and underscores is
// written "name" with '"' doubled, since its driver looks into brackets.
QString quoteIdentifier(const QString& name, bool sqlite);
// The value table of a GST attribute: its name followed by "Master", unquoted.
QString attributeTableName(const QString& gstAttribute);

// Step 1: the "I Agree" reminder (information box).
void showAgreementReminder();
// Step 2: true when the operator answers Yes to the warning.
bool confirmConversion();
// Step 3: whether the line of business holds GST per product.
bool readProductWise(std::int16_t lobId);
// Step 5: the new slab's id; when vatmaster lacks it the operator is told and the program ends.
std::int16_t readNewSlabIdOrRefuse(RunRecord& run);
// Step 6: ends the program when rows of the line of business already carry the
// new slab, or when an attribute-wise line has no usable attribute value table.
void refuseIfAlreadyOnNewSlab(std::int16_t lobId, bool productWise, const QString& gstAttribute,
                              std::int16_t newSlabId, RunRecord& run);
// Steps 10 to 13: both updates in one transaction on gConnection, their row
// counts noted in `run`. False after any failure, with the transaction rolled
// back and the failure noted; a failed rollback, or a commit that may have
// landed, raises its error (nothing committed by this program afterwards).
bool moveRowsToNewSlab(std::int16_t lobId, bool productWise, const QString& gstAttribute,
                       std::int16_t newSlabId, RunRecord& run);
// Steps 14 to 16 are the caller's; these are their boxes.
void showDone();
void showTryAgain(const QString& lobName);

} // namespace conversion
