#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstdio>

namespace gst
{

// A text from outside (an argument, a path from the environment) as it may be
// echoed to a terminal: control, format and separator characters (escape
// sequences, line breaks, bidi overrides) become '?', so that a message stays
// one plain line.
QString printable(const QString& text);

// Whether the text holds a control character (C0, DEL or C1).
bool hasControlCharacter(const QString& text);

// A number of the program's own, written as a decimal literal for SQL.
QString number(std::int16_t n);

// Writes UTF-8 text to a standard stream as it is, line feeds included (no
// carriage returns added on Windows), and flushes it.
void writeText(std::FILE* stream, const QString& text);

// Overwrites a working copy of a secret before it is released.
void wipe(QString& text);
void wipe(QByteArray& bytes);

} // namespace gst
