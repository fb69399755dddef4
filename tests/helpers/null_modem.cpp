// Joins two pseudo-terminals like a null-modem cable and names them as COM
// ports in a folder of links (a Wine prefix's dosdevices), so that a Windows
// program under Wine can talk from one COM port to the other.
//
//   null_modem <folder> <name-a> <name-b>
//
// Prints "<name> <device path>" for each side once the links exist, relays
// bytes both ways until its standard input closes, then removes the links.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <limits>
#include <string>
#include <thread>

#include "platform/pseudo_terminal.h"

namespace {

namespace fs = std::filesystem;
using rez::platform::PseudoTerminal;

std::atomic<bool> done{false};

void relay(PseudoTerminal& from, PseudoTerminal& to) {
    unsigned char buffer[4096];
    while (!done) {
        const int n = from.read(buffer, sizeof buffer, 50);
        if (n < 0) return;
        for (int sent = 0; sent < n;) {
            const int w = to.write(buffer + sent, n - sent);
            if (w <= 0) return;
            sent += w;
        }
    }
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: null_modem <folder> <name-a> <name-b>\n");
        return 2;
    }
    static PseudoTerminal a;
    static PseudoTerminal b;
    if (!a.open() || !b.open()) {
        std::fprintf(stderr, "null_modem: no pseudo-terminals on this system\n");
        return 2;
    }
    const fs::path folder = argv[1];
    const fs::path linkA = folder / lower(argv[2]);
    const fs::path linkB = folder / lower(argv[3]);
    std::error_code error;
    fs::create_directories(folder, error);
    for (const auto& [link, pty] : {std::pair{&linkA, &a}, std::pair{&linkB, &b}}) {
        fs::remove(*link, error);
        fs::create_symlink(pty->devicePath(), *link, error);
        if (error) {
            std::fprintf(stderr, "null_modem: cannot link %s: %s\n", link->string().c_str(), error.message().c_str());
            return 1;
        }
    }
    std::printf("%s %s\n%s %s\n", argv[2], a.devicePath().c_str(), argv[3], b.devicePath().c_str());
    std::fflush(stdout);

    std::thread ab(relay, std::ref(a), std::ref(b));
    std::thread ba(relay, std::ref(b), std::ref(a));
    std::cin.ignore(std::numeric_limits<std::streamsize>::max());

    done = true;
    fs::remove(linkA, error);
    fs::remove(linkB, error);
    std::fflush(stdout);
    // A relay may sit in a write that nobody drains; leave without joining.
    std::_Exit(0);
}
