#include "platform/console.h"

#include <io.h>
#include <stdio.h>
#include <windows.h>

#include <atomic>

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

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

// The status is redrawn in place with cursor movements, which a Windows
// console follows only once its escape-sequence processing is on. A console
// that refuses it (older than Windows 10) counts as no terminal, so the
// program writes plain lines there instead of escape codes.
bool standardOutputIsTerminal() {
    if (::_isatty(::_fileno(stdout)) == 0) return false;
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out == INVALID_HANDLE_VALUE || !::GetConsoleMode(out, &mode)) return false;
    if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
    return ::SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

void catchStopRequests() { ::SetConsoleCtrlHandler(onControl, TRUE); }

int stopRequests() { return requests.load(); }

}  // namespace rez::platform
