#pragma once

// The program's first code: connects to "talvex", decides whether the firm
// picker is needed, then opens the login window.
void Main();

// Opens gConnection on gDatabaseName with the login component's server and
// password and applies the run-date gate. Ends the program on any failure.
void ConnectDatabase();

// Steps 3 to 5 of the start-up: asks the usable-firm count and the MultiDB
// option (always both, in this order) and returns whether to offer firm selection.
bool NeedsFirmSelection();

namespace gst
{
// Creates the application's windows loop around Main; returns the exit code.
int runApplication(int& argc, char** argv);
} // namespace gst
