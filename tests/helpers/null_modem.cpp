// Joins two pseudo-terminals like a null-modem cable and names them as COM
// ports in a folder of links (a Wine prefix's dosdevices), so that a Windows
// program under Wine can talk from one COM port to the other.
//
//   null_modem <folder> <near> <far> [<control>]
//
// Prints "<name> <device path>" for each side once the links exist, relays
// bytes both ways until its standard input closes, then removes the links.
//
// With a control name, a third pseudo-terminal under that name takes one
// command a line from the Windows side and answers each with a line, so that
// a test can pull the device at the near end out and plug one in again:
//   unplug      the near end goes away: every handle on it fails from now on
//               (its pseudo-terminal closes) and its name is removed
//   plug COMn   a new near end under COMn (a near end still there goes first)
// The answer is "ok" or what went wrong. Bytes from the far end meanwhile
// reach nobody, as with a cable whose other end hangs loose.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/pseudo_terminal.h"

namespace {

namespace fs = std::filesystem;
using rez::platform::PseudoTerminal;

std::atomic<bool> done{false};
fs::path folder;

// The near end can be replaced while the relays run: the relay reading it
// holds nearRead, the one writing to it nearWrite, a replacement both.
std::mutex nearRead, nearWrite;
std::unique_ptr<PseudoTerminal> nearEnd;
fs::path nearLink;

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    return text;
}

bool writeAll(PseudoTerminal& to, const unsigned char* bytes, int n) {
    for (int sent = 0; sent < n;) {
        const int w = to.write(bytes + sent, n - sent);
        if (w <= 0) return false;
        sent += w;
    }
    return true;
}

// A fresh pseudo-terminal linked as `name`; the reason on failure.
std::unique_ptr<PseudoTerminal> openNamed(const std::string& name, fs::path& link, std::string& whyNot) {
    auto pty = std::make_unique<PseudoTerminal>();
    if (!pty->open()) {
        whyNot = "no pseudo-terminal";
        return nullptr;
    }
    link = folder / lower(name);
    std::error_code error;
    fs::remove(link, error);
    fs::create_symlink(pty->devicePath(), link, error);
    if (error) {
        whyNot = "cannot link " + link.string() + ": " + error.message();
        return nullptr;
    }
    return pty;
}

void nearToFar(PseudoTerminal& far) {
    unsigned char buffer[4096];
    while (!done) {
        int n = -1;
        {
            std::lock_guard<std::mutex> lock(nearRead);
            if (nearEnd) n = nearEnd->read(buffer, sizeof buffer, 20);
        }
        if (n < 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));  // unplugged
        if (n > 0 && !writeAll(far, buffer, n)) return;
    }
}

void farToNear(PseudoTerminal& far) {
    unsigned char buffer[4096];
    while (!done) {
        const int n = far.read(buffer, sizeof buffer, 50);
        if (n < 0) return;
        std::lock_guard<std::mutex> lock(nearWrite);
        if (n > 0 && nearEnd) writeAll(*nearEnd, buffer, n);
    }
}

std::string obey(const std::string& command) {
    std::scoped_lock both(nearRead, nearWrite);
    const bool plug = command.rfind("plug COM", 0) == 0;
    if (command != "unplug" && !plug) return "unknown command: " + command;
    if (nearEnd) {
        nearEnd.reset();  // its handles fail from here on
        std::error_code error;
        fs::remove(nearLink, error);
    }
    if (!plug) return "ok";
    std::string whyNot;
    nearEnd = openNamed(command.substr(5), nearLink, whyNot);
    return nearEnd ? "ok" : whyNot;
}

void takeCommands(PseudoTerminal& control) {
    std::string line;
    while (!done) {
        char c = 0;
        const int n = control.read(&c, 1, 100);
        if (n < 0) return;
        if (n == 0 || c == '\r') continue;
        if (c != '\n') {
            line.push_back(c);
            continue;
        }
        const std::string answer = obey(line) + "\n";
        line.clear();
        writeAll(control, reinterpret_cast<const unsigned char*>(answer.data()), static_cast<int>(answer.size()));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: null_modem <folder> <near> <far> [<control>]\n");
        return 2;
    }
    folder = argv[1];
    std::error_code error;
    fs::create_directories(folder, error);
    std::string whyNot;
    fs::path farLink, controlLink;
    nearEnd = openNamed(argv[2], nearLink, whyNot);
    const std::unique_ptr<PseudoTerminal> far = nearEnd ? openNamed(argv[3], farLink, whyNot) : nullptr;
    const std::unique_ptr<PseudoTerminal> control = far && argc == 5 ? openNamed(argv[4], controlLink, whyNot) : nullptr;
    if (!far || (argc == 5 && !control)) {
        std::fprintf(stderr, "null_modem: %s\n", whyNot.c_str());
        return whyNot == "no pseudo-terminal" ? 2 : 1;
    }
    std::printf("%s %s\n%s %s\n", argv[2], nearEnd->devicePath().c_str(), argv[3], far->devicePath().c_str());
    if (control) std::printf("%s %s\n", argv[4], control->devicePath().c_str());
    std::fflush(stdout);

    std::thread(nearToFar, std::ref(*far)).detach();
    std::thread(farToNear, std::ref(*far)).detach();
    if (control) std::thread(takeCommands, std::ref(*control)).detach();
    std::cin.ignore(std::numeric_limits<std::streamsize>::max());

    done = true;
    {
        // Not nearWrite: a relay may sit in a write that nobody drains.
        std::lock_guard<std::mutex> lock(nearRead);
        fs::remove(nearLink, error);
    }
    fs::remove(farLink, error);
    fs::remove(controlLink, error);
    std::fflush(stdout);
    // The relays may still be in a call: leave without joining them.
    std::_Exit(0);
}
