#pragma once

#include "platform/LoginSettings.h"

namespace gst
{

// The maker's login component, created by its class name; it knows the server
// and the sa password of this workstation's shop.
constexpr char kLoginComponentClass[] = "LoginDll.clsLogin";

struct LoginComponentAnswer {
    enum class Outcome {
        NoComponents,  // a system without COM: only the file can tell
        NotRegistered, // the class is not registered on this computer
        Answered,
    };
    Outcome outcome = Outcome::NoComponents;
    LoginSettings settings; // serverName and pwd, as the component gave them
};

// Creates the component and reads its ServerName and pwd by late binding
// (IDispatch). Raises AppError(err::kLoginSettings) when the class is registered
// but cannot be created, or a property cannot be read as text.
LoginComponentAnswer readLoginComponent();

} // namespace gst
