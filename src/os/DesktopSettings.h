// The formats in which Linux desktops publish their settings, parsed from bytes
// already read: an XSETTINGS manager's _XSETTINGS_SETTINGS property, the X
// server's resource text (RESOURCE_MANAGER, as `xrdb -query` shows it) and the
// groups and keys of a KDE configuration file. Pure: no reads, no log.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace OS {

// The integer settings of an XSETTINGS blob (string and colour settings are
// passed over); `problem` says why a blob was not understood.
struct XSettings {
    bool valid = false;
    std::string problem;
    std::map<std::string, std::int32_t> integers;
};
XSettings parseXSettings(const std::string& blob);

// The value of resource `name` ("Xft.dpi") in a resource text of
// "name:<blanks>value" lines, the last one winning; none when it is not there.
std::optional<std::string> findResource(const std::string& resources, const std::string& name);

// The value of `key` in group `group` ("KScreen" for "[KScreen]") of a KDE
// configuration file, the last one winning; none when it is not there.
std::optional<std::string> findKdeConfigValue(const std::string& text, const std::string& group, const std::string& key);

}  // namespace OS
