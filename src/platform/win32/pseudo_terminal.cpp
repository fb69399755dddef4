#include "platform/pseudo_terminal.h"

#include <windows.h>

namespace rez::platform {

PseudoTerminal::~PseudoTerminal() = default;

bool PseudoTerminal::supported() { return false; }

bool PseudoTerminal::open() {
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

void PseudoTerminal::close() {}

bool PseudoTerminal::isOpen() const { return false; }

int PseudoTerminal::read(void*, int, int) { return -1; }

int PseudoTerminal::write(const void*, int) { return -1; }

bool PseudoTerminal::lineSettings(SerialSettings&) const { return false; }

}  // namespace rez::platform
