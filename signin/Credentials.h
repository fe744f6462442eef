#pragma once

#include "platform/Value.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

// Who signed in: false, zero or empty until a sign-in succeeds, then kept
// until the program ends.
extern bool gSignedIn;
extern std::int16_t gUserId;
extern QString gUserName;
extern bool gDefaultMenu;
extern std::int16_t gProcessId;

namespace gst
{
// The Windows-1252 code of a character, the five codes Windows-1252 leaves
// undefined standing for U+0081, U+008D, U+008F, U+0090 and U+009D; -1 for a
// character that has no code there.
int windows1252Code(QChar ch);
// The character of a Windows-1252 code (0 to 255).
QChar windows1252Char(int code);
// Bytes of a single-byte column written in Windows-1252, every byte kept.
QString decodeWindows1252(const QByteArray& bytes);

// The stored password as the shop's application wrote it. A single-byte
// column comes with its own bytes (`bytes`, read beside the text where the
// driver's conversion may lose the undefined codes); otherwise the text is
// taken as the driver delivered it. A NULL password is an invalid use of null.
QString storedPassword(const Value& text, bool narrowColumn, const QByteArray* bytes);

// Whether the typed password is the clear form of the stored one: exact,
// letter case significant, nothing trimmed. A stored password holding a
// character without a Windows-1252 code matches nothing.
bool passwordMatches(const QString& stored, const QString& typed);

// The statement that finds the signed-in user's row; the user name is bound to
// its one parameter. SQL Server also returns the stored password's bytes as
// column kPasswordBytesColumn.
QString userLookupStatement(bool sqlite);
extern const char* const kPasswordBytesColumn;
} // namespace gst

// Each Windows-1252 code c becomes the character whose code is 255 - c; the
// mapping is its own inverse. A character without a Windows-1252 code is kept
// as it is (it never results from the mapping, so it cannot match a password).
QString TransformPassword(const QString& s);

// Checks the user name and password typed in the login window against
// usermaster. On success sets the signed-in user record and returns true; on
// failure tells the operator and returns false. Database and conversion errors
// pass to the caller.
bool CheckCredentials(const QString& typedUserName, const QString& typedPassword);
