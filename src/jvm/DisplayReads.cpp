// The display scale's reads: one short visit to the X server of DISPLAY and the
// user's configuration files, never waiting on what lies at their paths.
#include <cstdlib>

#include "jvm/DisplayScale.h"
#include "os/OSHelper.h"
#include "os/X11Client.h"

namespace corvane::jvm {

namespace {

// The whole visit: a start is never held up longer by a server that hangs.
constexpr int X11_TIMEOUT_MS = 200;
// More than any desktop's settings or resources.
constexpr std::size_t MAX_PROPERTY_BYTES = std::size_t{1} << 20;
// The predefined atom RESOURCE_MANAGER.
constexpr std::uint32_t RESOURCE_MANAGER_ATOM = 23;

SettingsText absent(const std::string& problem) {
    SettingsText text;
    text.problem = problem;
    return text;
}

SettingsText failed(const std::string& problem) {
    SettingsText text;
    text.outcome = SettingsText::FAILED;
    text.problem = problem;
    return text;
}

SettingsText propertyText(OS::X11Client& client, std::uint32_t window, std::uint32_t atom, const std::string& missing) {
    OS::X11Property property;
    if (!client.readProperty(window, atom, MAX_PROPERTY_BYTES, property)) {
        return failed(client.problem());
    }
    if (!property.present) {
        return absent(missing);
    }
    SettingsText text;
    text.outcome = SettingsText::READ;
    text.text = property.value;
    return text;
}

// The settings manager of `screen` is the owner of the selection _XSETTINGS_S<screen>.
SettingsText readXSettings(OS::X11Client& client, int screen) {
    const std::string selection = "_XSETTINGS_S" + std::to_string(screen);
    const std::string none = "no XSETTINGS manager on screen " + std::to_string(screen);
    std::uint32_t selectionAtom = 0;
    std::uint32_t owner = 0;
    std::uint32_t settingsAtom = 0;
    if (!client.internAtom(selection, selectionAtom)) {
        return failed(client.problem());
    }
    if (selectionAtom == 0) {
        return absent(none);
    }
    if (!client.selectionOwner(selectionAtom, owner)) {
        return failed(client.problem());
    }
    if (owner == 0) {
        return absent(none);
    }
    if (!client.internAtom("_XSETTINGS_SETTINGS", settingsAtom)) {
        return failed(client.problem());
    }
    if (settingsAtom == 0) {
        return absent("the XSETTINGS manager publishes no settings");
    }
    return propertyText(client, owner, settingsAtom, "the XSETTINGS manager publishes no settings");
}

}  // namespace

DisplaySettings readDisplaySettings(const char* display) {
    DisplaySettings settings;
    if (display == nullptr || display[0] == '\0') {
        settings.problem = "DISPLAY unset";
        return settings;
    }
    const OS::X11DisplayName name = OS::parseX11DisplayName(display);
    if (!name.local) {
        settings.problem = name.problem;
        return settings;
    }
    OS::X11Client client;
    if (!client.connect(name, OS::userX11Cookie(name), X11_TIMEOUT_MS)) {
        settings.visit = SettingsText::FAILED;
        settings.problem = "DISPLAY=" + std::string(display) + ": " + client.problem();
        return settings;
    }
    settings.visit = SettingsText::READ;
    settings.xsettings = readXSettings(client, name.screen);
    if (!client.connected()) {
        // Lost or out of time: nothing more to read, and one line says why.
        settings.visit = SettingsText::FAILED;
        settings.problem = "DISPLAY=" + std::string(display) + ": " + client.problem();
        return settings;
    }
    // Xlib's resource database is the first screen's, whichever screen DISPLAY names.
    settings.resources = propertyText(client, client.rootWindow(0), RESOURCE_MANAGER_ATOM, "no RESOURCE_MANAGER");
    return settings;
}

SettingsText readUserConfigFile(const std::string& name) {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    std::string path;
    if (configHome != nullptr && configHome[0] == '/') {
        path = std::string(configHome) + "/" + name;
    } else if (home != nullptr && home[0] == '/') {
        path = std::string(home) + "/.config/" + name;
    } else {
        return absent("no configuration folder for " + name);
    }
    const OS::FileText file = OS::readRegularFile(path);
    if (file.outcome == OS::FileText::ABSENT) {
        return absent("no " + path);
    }
    if (file.outcome == OS::FileText::REFUSED) {
        return failed(path + ": " + file.problem);
    }
    SettingsText text;
    text.outcome = SettingsText::READ;
    text.text = file.text;
    return text;
}

}  // namespace corvane::jvm
