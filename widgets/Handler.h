#pragma once

#include <exception>
#include <functional>

namespace gst
{

class AppError;

// Shows the report of an error that no handler caught ("Run-time error '<n>':",
// a blank line, the description; critical icon, program title) and ends the
// program with exit code 3.
[[noreturn]] void reportAndEnd(const AppError& error);
[[noreturn]] void reportAndEnd(const std::exception& error);

// Every window event handler is entered through this, so that no exception
// ever crosses Qt's event loop.
void guarded(const std::function<void()>& handler);

} // namespace gst
