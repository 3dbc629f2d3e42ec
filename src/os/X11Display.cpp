// DISPLAY's name and the user's Xauthority cookie, as Xlib reads them.
#include "os/X11Display.h"

#include <algorithm>
#include <cstdlib>

#include <sys/utsname.h>

#include "os/OSHelper.h"
#include "os/X11Wire.h"

namespace OS {

const char X11_COOKIE_NAME[] = "MIT-MAGIC-COOKIE-1";

namespace {

// Xauthority families: a connection on this machine, and an entry for any address.
constexpr unsigned FAMILY_LOCAL = 256;
constexpr unsigned FAMILY_WILD = 65535;

// Xauthority fields are big-endian: a 16-bit length, then the bytes.
bool readCounted(const std::string& file, std::size_t& at, std::string& field) {
    if (at + 2 > file.size()) {
        return false;
    }
    const std::size_t size = byteAt(file, at) << 8U | byteAt(file, at + 1);
    if (at + 2 + size > file.size()) {
        return false;
    }
    field = file.substr(at + 2, size);
    at += 2 + size;
    return true;
}

// A number of one to nine digits, nothing else; -1 otherwise.
int smallNumber(const std::string& text) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return -1;
    }
    int number = 0;
    for (const char c : text) {
        number = number * 10 + (c - '0');
    }
    return number;
}

std::string hostName() {
    struct utsname name {};
    return ::uname(&name) == 0 ? std::string(name.nodename) : std::string();
}

}  // namespace

X11DisplayName parseX11DisplayName(const std::string& display) {
    X11DisplayName name;
    const std::size_t colon = display.find(':');
    if (colon == std::string::npos) {
        name.problem = "DISPLAY=" + display + " is no display name";
        return name;
    }
    const std::string host = display.substr(0, colon);
    const std::string rest = display.substr(colon + 1);
    if ((!host.empty() && host != "unix") || (!rest.empty() && rest[0] == ':')) {
        name.problem = "DISPLAY=" + display + " is a network display";
        return name;
    }
    const std::size_t dot = rest.find('.');
    name.number = smallNumber(rest.substr(0, dot));
    name.screen = dot == std::string::npos ? 0 : smallNumber(rest.substr(dot + 1));
    name.local = name.number >= 0 && name.screen >= 0;
    if (!name.local) {
        name.problem = "DISPLAY=" + display + " is no display name";
    }
    return name;
}

std::string findX11Cookie(const std::string& xauthority, const std::string& hostname, int number) {
    const std::string wanted = std::to_string(number);
    std::size_t at = 0;
    while (at + 2 <= xauthority.size()) {
        const unsigned family = byteAt(xauthority, at) << 8U | byteAt(xauthority, at + 1);
        at += 2;
        std::string address;
        std::string display;
        std::string name;
        std::string data;
        if (!readCounted(xauthority, at, address) || !readCounted(xauthority, at, display) ||
            !readCounted(xauthority, at, name) || !readCounted(xauthority, at, data)) {
            break;
        }
        const bool hostFits = family == FAMILY_WILD || (family == FAMILY_LOCAL && address == hostname);
        if (hostFits && (display.empty() || display == wanted) && name == X11_COOKIE_NAME) {
            return data;
        }
    }
    return std::string();
}

std::string x11AuthorityPath(const char* xauthority, const char* home) {
    if (xauthority != nullptr && xauthority[0] != '\0') {
        return xauthority;
    }
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.Xauthority";
    }
    return std::string();
}

std::string userX11Cookie(const X11DisplayName& display) {
    const std::string path = x11AuthorityPath(std::getenv("XAUTHORITY"), std::getenv("HOME"));
    if (path.empty()) {
        return std::string();
    }
    const FileText file = readRegularFile(path);
    return file.outcome == FileText::READ ? findX11Cookie(file.text, hostName(), display.number) : std::string();
}

}  // namespace OS
