// The X11 core protocol's connection set-up and three requests, over a local
// socket with one deadline for all of it. Byte order: the client says 'l' (least
// significant byte first), so every number either way is little-endian.
#include "os/X11Client.h"

#include "os/OSHelper.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "os/X11Wire.h"

namespace OS {

namespace {

// No set-up reply or answer of ours comes near this; a larger one is no X server's.
constexpr std::size_t MAX_PACKET = std::size_t{4} << 20;
constexpr int OPCODE_GET_PROPERTY = 20;
constexpr int OPCODE_INTERN_ATOM = 16;
constexpr int OPCODE_GET_SELECTION_OWNER = 23;
constexpr int GENERIC_EVENT = 35;

std::string errorText(int error) {
    char buffer[256];
    return ::strerror_r(error, buffer, sizeof buffer);
}

// A request's fixed head: opcode, one data byte and the length in 4-byte units.
std::string requestHead(int opcode, int data, std::size_t words) {
    std::string request;
    request.push_back(static_cast<char>(opcode));
    request.push_back(static_cast<char>(data));
    put16(request, static_cast<std::uint32_t>(words));
    return request;
}

}  // namespace

X11Client::~X11Client() {
    if (fd >= 0) {
        ::close(fd);
    }
}

bool X11Client::fail(const std::string& why) {
    failure = why;
    return false;
}

bool X11Client::lose(const std::string& why) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    return fail(why);
}

// The abstract socket first, as Xlib tries it, then the socket file.
bool X11Client::connectSocket(const X11DisplayName& display) {
    const std::string path = "/tmp/.X11-unix/X" + std::to_string(display.number);
    std::string problem;
    for (const bool abstract : {true, false}) {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            return fail("no socket: " + errorText(errno));
        }
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::size_t start = abstract ? 1 : 0;
        std::memcpy(address.sun_path + start, path.c_str(), path.size());
        const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + start + path.size());
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), size) == 0) {
            return true;
        }
        // A Unix socket connects at once or not at all (EAGAIN: the server's queue is full).
        problem = "cannot connect to " + path + ": " + errorText(errno);
        lose(problem);
    }
    return false;
}

bool X11Client::connect(const X11DisplayName& display, const std::string& cookie, int timeoutMs) {
    deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (!display.local) {
        return fail(display.problem);
    }
    if (!connectSocket(display)) {
        return false;
    }
    const std::string name = cookie.empty() ? std::string() : std::string(X11_COOKIE_NAME);
    std::string setup = "l";
    setup.push_back('\0');
    put16(setup, 11);  // protocol 11.0
    put16(setup, 0);
    put16(setup, static_cast<std::uint32_t>(name.size()));
    put16(setup, static_cast<std::uint32_t>(cookie.size()));
    put16(setup, 0);
    setup.append(name).append(pad4(name.size()), '\0');
    setup.append(cookie).append(pad4(cookie.size()), '\0');
    std::string head;
    std::string body;
    if (!sendAll(setup) || !receive(8, head) || !receive(little16(head, 6) * std::size_t{4}, body)) {
        return false;
    }
    if (head[0] != 1) {
        // Failed (0) carries its reason's length; Authenticate (2) pads its reason with NULs.
        const std::string reason = head[0] == 0 ? body.substr(0, byteAt(head, 1)) : body.substr(0, body.find('\0'));
        return lose("the X server refused the connection: " + reason.substr(0, reason.find_last_not_of('\n') + 1));
    }
    if (body.size() < 32) {
        return lose("the X server's set-up reply is too short");
    }
    // After the fixed part: the vendor's name, the pixmap formats, then each screen
    // (40 bytes and its depths, each 8 bytes and 24 per visual); a screen's first
    // field is its root window.
    std::size_t at = 32 + little16(body, 16) + pad4(little16(body, 16)) + 8 * std::size_t{byteAt(body, 21)};
    for (unsigned screen = 0; screen < byteAt(body, 20); ++screen) {
        if (at + 40 > body.size()) {
            return lose("the X server's set-up reply is cut short");
        }
        roots.push_back(little32(body, at));
        const unsigned depths = byteAt(body, at + 39);
        at += 40;
        for (unsigned depth = 0; depth < depths && at + 8 <= body.size(); ++depth) {
            at += 8 + 24 * std::size_t{little16(body, at + 2)};
        }
    }
    return true;
}

std::uint32_t X11Client::rootWindow(int screen) const {
    return screen >= 0 && static_cast<std::size_t>(screen) < roots.size() ? roots[static_cast<std::size_t>(screen)] : 0;
}

bool X11Client::sendAll(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t count = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (count > 0) {
            sent += static_cast<std::size_t>(count);
        } else if (errno == EAGAIN && waitForDescriptor(fd, POLLOUT, deadline)) {
            continue;
        } else if (errno != EINTR) {
            return lose(errno == EAGAIN ? "the X server took no request in time" : errorText(errno));
        }
    }
    return true;
}

// Exactly `count` bytes; a lost connection is closed, so later calls fail at once.
bool X11Client::receive(std::size_t count, std::string& bytes) {
    bytes.clear();
    if (fd < 0) {
        return fail(failure.empty() ? "not connected" : failure);
    }
    if (count > MAX_PACKET) {
        return lose("the X server announced " + std::to_string(count) + " bytes");
    }
    char buffer[4096];
    while (bytes.size() < count) {
        const ssize_t got = ::recv(fd, buffer, std::min(sizeof buffer, count - bytes.size()), 0);
        if (got > 0) {
            bytes.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        const int error = got == 0 ? 0 : errno;
        if (error == EAGAIN && waitForDescriptor(fd, POLLIN, deadline)) {
            continue;
        }
        return lose(error == 0        ? "the X server closed the connection"
                    : error == EAGAIN ? "the X server did not answer in time"
                                      : errorText(error));
    }
    return true;
}

// Sends one request and returns its reply; events in between are passed over.
bool X11Client::roundTrip(const std::string& request, std::string& reply) {
    if (fd < 0 || !sendAll(request)) {
        return fd < 0 ? fail(failure.empty() ? "not connected" : failure) : false;
    }
    ++sequence;
    for (;;) {
        std::string extra;
        if (!receive(32, reply)) {
            return false;
        }
        const unsigned kind = byteAt(reply, 0) & 0x7fU;
        if (kind == 0 && little16(reply, 2) == sequence) {
            return fail("the X server answered with error " + std::to_string(byteAt(reply, 1)));
        }
        if (kind == 1 || kind == GENERIC_EVENT) {
            if (!receive(little32(reply, 4) * std::size_t{4}, extra)) {
                return false;
            }
        }
        if (kind == 1 && little16(reply, 2) == sequence) {
            reply.append(extra);
            return true;
        }
    }
}

bool X11Client::internAtom(const std::string& name, std::uint32_t& atom) {
    std::string request = requestHead(OPCODE_INTERN_ATOM, 1, 2 + (name.size() + pad4(name.size())) / 4);
    put16(request, static_cast<std::uint32_t>(name.size()));
    put16(request, 0);
    request.append(name).append(pad4(name.size()), '\0');
    std::string reply;
    if (!roundTrip(request, reply)) {
        return false;
    }
    atom = little32(reply, 8);
    return true;
}

bool X11Client::selectionOwner(std::uint32_t selection, std::uint32_t& owner) {
    std::string request = requestHead(OPCODE_GET_SELECTION_OWNER, 0, 2);
    put32(request, selection);
    std::string reply;
    if (!roundTrip(request, reply)) {
        return false;
    }
    owner = little32(reply, 8);
    return true;
}

bool X11Client::readProperty(std::uint32_t window, std::uint32_t property, std::size_t maxBytes, X11Property& result) {
    std::string request = requestHead(OPCODE_GET_PROPERTY, 0, 6);
    put32(request, window);
    put32(request, property);
    put32(request, 0);  // any type
    put32(request, 0);  // from the start
    put32(request, static_cast<std::uint32_t>((maxBytes + 3) / 4));
    std::string reply;
    if (!roundTrip(request, reply)) {
        return false;
    }
    result = X11Property();
    if (little32(reply, 8) == 0) {
        return true;  // no such property
    }
    const std::size_t size = std::size_t{little32(reply, 16)} * (byteAt(reply, 1) / 8);
    if (little32(reply, 12) != 0) {
        return fail("the property holds more than " + std::to_string(maxBytes) + " bytes");
    }
    if (32 + size > reply.size()) {
        return fail("the property's reply is cut short");
    }
    result.present = true;
    result.value = reply.substr(32, size);
    return true;
}

}  // namespace OS
