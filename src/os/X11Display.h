// Where DISPLAY leads and the cookie that opens it, as Xlib finds them: only a
// display on this machine, and only the MIT-MAGIC-COOKIE-1 scheme.
#pragma once

#include <string>

namespace OS {

extern const char X11_COOKIE_NAME[];

// What DISPLAY names: a display on this machine (":N", ":N.S", "unix:N",
// "unix:N.S"), or why it is none the launcher will visit.
struct X11DisplayName {
    bool local = false;
    int number = 0;
    int screen = 0;
    std::string problem;  // not local: why
};
X11DisplayName parseX11DisplayName(const std::string& display);

// The data of the first MIT-MAGIC-COOKIE-1 entry of an Xauthority file's bytes
// that fits display `number` of this machine (`hostname`), as Xlib picks it: a
// local entry of this host or a wildcard one, for that number or any. Empty when none.
std::string findX11Cookie(const std::string& xauthority, const std::string& hostname, int number);

// The Xauthority file Xlib reads: XAUTHORITY, else HOME's .Xauthority; empty when neither.
std::string x11AuthorityPath(const char* xauthority, const char* home);

// The cookie Xlib would send to `display`: from the user's Xauthority file (read
// without waiting on what lies at its path) for this machine's name.
std::string userX11Cookie(const X11DisplayName& display);

}  // namespace OS
