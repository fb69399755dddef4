#pragma once
// POSIX sockets need no network start-up, but every socket of this layer
// refuses to open outside one, as Winsock does, so a caller that forgot the
// start-up fails in the Linux tests too and not only on Windows.
namespace rez::platform {

// True while a netStartup is in force; when false, errno is set to
// socketErrorNotStarted.
bool networkStarted();

}  // namespace rez::platform
