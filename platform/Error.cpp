#include "platform/Error.h"

namespace gst
{

AppError::AppError(long number, QString description)
    : m_number(number), m_description(std::move(description)),
      m_what(QString::number(number).toStdString() + ": " + m_description.toStdString())
{
}

void raiseTypeMismatch()
{
    throw AppError(err::kTypeMismatch, QStringLiteral("Type mismatch"));
}
void raiseOverflow()
{
    throw AppError(err::kOverflow, QStringLiteral("Overflow"));
}
void raiseInvalidUseOfNull()
{
    throw AppError(err::kInvalidUseOfNull, QStringLiteral("Invalid use of Null"));
}

} // namespace gst
