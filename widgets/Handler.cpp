#include "widgets/Handler.h"

#include "platform/Error.h"
#include "platform/ProgramEnd.h"
#include "widgets/MessageBox.h"

namespace gst
{

void reportAndEnd(const AppError& error)
{
    showMessage(QStringLiteral("Run-time error '%1':\r\n\r\n%2")
                    .arg(QString::number(error.number()), error.description()),
                std::nullopt, MsgIcon::Critical);
    endProgram(kExitError);
}

void reportAndEnd(const std::exception& error)
{
    reportAndEnd(AppError(err::kGenericFailure, QString::fromLocal8Bit(error.what())));
}

void guarded(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const AppError& e) {
        reportAndEnd(e);
    } catch (const std::bad_alloc&) {
        reportAndEnd(AppError(err::kOutOfMemory, QStringLiteral("Out of memory")));
    } catch (const std::exception& e) {
        reportAndEnd(e);
    } catch (...) {
        reportAndEnd(AppError(err::kGenericFailure, QStringLiteral("Unexpected failure")));
    }
}

} // namespace gst
