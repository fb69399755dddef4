#pragma once
// The console a host program runs in: whether its output is a terminal (a
// status line can then be redrawn in place) and the user's request to stop
// (Ctrl-C, or the system asking the program to end).
namespace rez::platform {

// Whether standard output is a terminal that follows cursor movements (on
// Windows this switches the console's escape-sequence processing on).
bool standardOutputIsTerminal();

// From now on Ctrl-C and end requests no longer end the process at once;
// each one is counted instead, and the program ends on its own terms.
void catchStopRequests();
int stopRequests();

}  // namespace rez::platform
