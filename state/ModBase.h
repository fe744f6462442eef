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

// Windows virtual-key codes, as SendKeyEvent takes them.
constexpr std::int16_t kVkTab = 9;
constexpr std::int16_t kVkReturn = 13;
constexpr std::int16_t kVkEscape = 27;
constexpr std::int16_t kVkUp = 38;
constexpr std::int16_t kVkDown = 40;

// One key event (virtual-key code) for the focused control, as if typed: on
// Windows injected through the system's input queue (SendInput), elsewhere
// posted to the focused control through the application's event queue.
void SendKeyEvent(std::int16_t virtualKey, bool keyDown);

// Removes leading and trailing blanks (spaces only, as the application trims).
QString TrimSpaces(const QString& text);
