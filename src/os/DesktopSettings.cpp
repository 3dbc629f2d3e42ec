// The XSETTINGS blob in the byte layout freedesktop.org documents for it, X resource
// lines and KDE configuration groups. The blob comes from whichever client owns
// the selection: every length is checked against the bytes that are there.
#include "os/DesktopSettings.h"

#include <sstream>

#include "os/X11Wire.h"

namespace OS {

namespace {

enum SettingType { INTEGER = 0, STRING = 1, COLOR = 2 };

// Reads the blob's numbers in the byte order its first byte names.
struct BlobReader {
    const std::string& blob;
    bool bigEndian;
    std::size_t at;

    bool has(std::size_t count) const { return count <= blob.size() && at <= blob.size() - count; }
    unsigned byte(std::size_t offset) const { return static_cast<unsigned char>(blob[at + offset]); }
    std::uint32_t card16() {
        const std::uint32_t value = bigEndian ? byte(0) << 8U | byte(1) : byte(1) << 8U | byte(0);
        at += 2;
        return value;
    }
    std::uint32_t card32() {
        const std::uint32_t first = card16();
        const std::uint32_t second = card16();
        return bigEndian ? first << 16U | second : second << 16U | first;
    }
};

XSettings notUnderstood(const std::string& problem) {
    XSettings settings;
    settings.problem = problem;
    return settings;
}

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return std::string();
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

XSettings parseXSettings(const std::string& blob) {
    // byte order (LSBFirst 0, MSBFirst 1), 3 unused, serial, number of settings
    if (blob.size() < 12) {
        return notUnderstood("the XSETTINGS blob is shorter than its header");
    }
    if (blob[0] != 0 && blob[0] != 1) {
        return notUnderstood("the XSETTINGS blob names no byte order");
    }
    BlobReader in{blob, blob[0] == 1, 8};
    const std::uint32_t count = in.card32();
    XSettings settings;
    // Each setting: type, 1 unused, name length, name padded to 4, last-change serial, value.
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!in.has(4)) {
            return notUnderstood("the XSETTINGS blob ends inside setting " + std::to_string(i));
        }
        const unsigned type = in.byte(0);
        in.at += 2;
        const std::size_t nameSize = in.card16();
        if (!in.has(nameSize + pad4(nameSize) + 4)) {
            return notUnderstood("the XSETTINGS blob ends inside setting " + std::to_string(i));
        }
        const std::string name = blob.substr(in.at, nameSize);
        in.at += nameSize + pad4(nameSize) + 4;
        if (type == INTEGER && in.has(4)) {
            settings.integers[name] = static_cast<std::int32_t>(in.card32());
        } else if (type == STRING && in.has(4)) {
            const std::size_t size = in.card32();
            if (!in.has(size + pad4(size))) {
                return notUnderstood("the XSETTINGS blob ends inside " + name);
            }
            in.at += size + pad4(size);
        } else if (type == COLOR && in.has(8)) {
            in.at += 8;
        } else {
            return notUnderstood(type > COLOR ? "the XSETTINGS blob has a setting of unknown type " + std::to_string(type)
                                              : "the XSETTINGS blob ends inside " + name);
        }
    }
    settings.valid = true;
    return settings;
}

std::optional<std::string> findResource(const std::string& resources, const std::string& name) {
    std::optional<std::string> value;
    std::istringstream lines(resources);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos && trimmed(line.substr(0, colon)) == name) {
            value = trimmed(line.substr(colon + 1));
        }
    }
    return value;
}

std::optional<std::string> findKdeConfigValue(const std::string& text, const std::string& group, const std::string& key) {
    std::optional<std::string> value;
    const std::string header = "[" + group + "]";
    bool inGroup = false;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        line = trimmed(line);
        if (line.empty() || line[0] == '#') {
            continue;
        }
        if (line[0] == '[') {
            inGroup = line == header;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (inGroup && equals != std::string::npos && trimmed(line.substr(0, equals)) == key) {
            value = trimmed(line.substr(equals + 1));
        }
    }
    return value;
}

}  // namespace OS
