// A small X11 client that speaks the protocol itself over the display's local
// socket, so that the launcher links nothing but glibc: connect (with the user's
// MIT-MAGIC-COOKIE-1), look up atoms, a selection's owner and window properties.
// Never a network display; every request shares one deadline, so a server that
// does not answer cannot hold a start up; every failure is a value with its reason.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "os/X11Display.h"

namespace OS {

struct X11Property {
    bool present = false;  // false: the window has no such property
    std::string value;     // its bytes, as the server holds them
};

// One connection; closed when the client goes.
class X11Client {
public:
    X11Client() = default;
    ~X11Client();
    X11Client(const X11Client&) = delete;
    X11Client& operator=(const X11Client&) = delete;
    X11Client(X11Client&&) = delete;
    X11Client& operator=(X11Client&&) = delete;

    // Connects to the local display, with `cookie` when not empty. The time
    // given here bounds the connection and every request after it. False, with
    // problem() set, when no connection was made.
    bool connect(const X11DisplayName& display, const std::string& cookie, int timeoutMs);

    // The root window of `screen`, or 0 when the display has no such screen.
    std::uint32_t rootWindow(int screen) const;

    // The atom of `name` if some client made it already (else 0, no failure).
    bool internAtom(const std::string& name, std::uint32_t& atom);
    // The window that owns the selection `selection`, or 0 when nobody does.
    bool selectionOwner(std::uint32_t selection, std::uint32_t& owner);
    // The property `property` of `window`, of any type, up to `maxBytes`.
    bool readProperty(std::uint32_t window, std::uint32_t property, std::size_t maxBytes, X11Property& result);

    // False once the connection is lost or out of time: every later call fails.
    bool connected() const { return fd >= 0; }

    // Why the last call failed.
    const std::string& problem() const { return failure; }

private:
    using Clock = std::chrono::steady_clock;

    bool fail(const std::string& why);
    // Closes the connection: every later call fails.
    bool lose(const std::string& why);
    bool connectSocket(const X11DisplayName& display);
    bool sendAll(const std::string& bytes);
    bool receive(std::size_t count, std::string& bytes);
    bool roundTrip(const std::string& request, std::string& reply);

    int fd = -1;
    Clock::time_point deadline;
    std::uint16_t sequence = 0;
    std::vector<std::uint32_t> roots;
    std::string failure;
};

}  // namespace OS
