#pragma once

// The sign-in hands over to the conversion window here, so that the login
// window does not depend on the conversion's folder: the start-up sequence is
// the one place that knows every window.
void ShowConversionWindow();
