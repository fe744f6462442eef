#pragma once

// The program's first code: connects to "talvex", decides whether the firm
// picker is needed, then opens the login window.
void Main();

// Opens gConnection on gDatabaseName with the login component's server and
// password and applies the run-date gate. Ends the program on any failure.
void ConnectDatabase();

// Whether to offer firm selection: asks the usable-firm count and the MultiDB
// option (always both, in this order); true when several firms are usable and
// MultiDB is on.
bool NeedsFirmSelection();

namespace gst
{
// Creates the application's windows loop around Main; returns the exit code.
int runApplication(int& argc, char** argv);
} // namespace gst
