#pragma once

#include "platform/Odbc.h"
#include "platform/Value.h"

#include <QString>

class QComboBox;

// Runs a SELECT on gConnection and returns the first column of the first row in
// its own type, or the integer 0 when there is no row or the value is NULL.
gst::Value GetScalar(const QString& sql, const gst::Params& params = {});

// Fills a drop-down list from a SELECT: first column the item text (trimmed),
// optional second column the item's 32-bit number (kept as the item's data).
// Rows are read to the end before the list changes, so that the list's own
// selection handler may query the same connection.
void FillCombo(QComboBox* list, const QString& sql);

// The item number FillCombo attached to an item, or 0 when none was set.
std::int32_t comboItemNumber(const QComboBox* list, int index);

// Posts one key event (virtual-key code) to the focused control.
void SendKeyEvent(std::int16_t virtualKey, bool keyDown);

// Removes leading and trailing blanks (spaces only, as the application trims).
QString TrimSpaces(const QString& text);
