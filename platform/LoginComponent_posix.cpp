#include "platform/LoginComponent.h"

namespace gst
{

LoginComponentAnswer readLoginComponent()
{
    return LoginComponentAnswer{};
}

} // namespace gst
