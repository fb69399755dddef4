#include "platform/console.h"

#include <io.h>
#include <stdio.h>
#include <windows.h>

#include <atomic>

namespace rez::platform {

namespace {

std::atomic<int> requests{0};

// Runs on a thread the system makes; TRUE keeps the process alive so that
// the program can bring the rig to rest itself.
BOOL WINAPI onControl(DWORD kind) {
    switch (kind) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            requests.fetch_add(1);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

bool standardOutputIsTerminal() { return ::_isatty(::_fileno(stdout)) != 0; }

void catchStopRequests() { ::SetConsoleCtrlHandler(onControl, TRUE); }

int stopRequests() { return requests.load(); }

}  // namespace rez::platform
