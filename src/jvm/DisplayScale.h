// The desktop's display scale, for Swing, worked out before the VM exists. On
// Linux the JDK reads only J2D_UISCALE and GDK_SCALE, so a HiDPI desktop that
// keeps its scale anywhere else gets Swing windows at 1x. The launcher passes the
// scale on as sun.java2d.uiScale (a whole number: all the JDK takes on Linux) and
// the exact factor as corvane.display.scale. Never GDK_SCALE: JavaFX finds its own
// scale, and a wrong GDK_SCALE would override it. Nothing here stops a start.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "jvm/JvmOptions.h"
#include "jvm/OptionFiles.h"

namespace corvane::jvm {

// A settings text as one source gave it.
struct SettingsText {
    enum Outcome { READ, ABSENT, FAILED };
    Outcome outcome = ABSENT;
    std::string text;     // READ: its bytes
    std::string problem;  // ABSENT or FAILED: why, for the log
};

// What one short visit to the X server of DISPLAY found.
struct DisplaySettings {
    SettingsText::Outcome visit = SettingsText::ABSENT;  // ABSENT: no local display to visit
    std::string problem;                                 // ABSENT or FAILED: why
    SettingsText xsettings;  // the _XSETTINGS_SETTINGS of the screen's settings manager
    SettingsText resources;  // RESOURCE_MANAGER of the first screen's root window
};

// The sources, in the order they are asked. The display and the files are
// read only when every source before them gave no factor.
struct DisplayScaleInputs {
    const OptionFiles* optionFiles = nullptr;
    const char* j2dUiScale = nullptr;      // J2D_UISCALE
    const char* gdkScale = nullptr;        // GDK_SCALE
    const char* currentDesktop = nullptr;  // XDG_CURRENT_DESKTOP
    std::function<DisplaySettings()> readDisplay;
    // A file in the user's configuration folder, by name ("kdeglobals").
    std::function<SettingsText(const std::string&)> readConfigFile;
};

struct DisplayScale {
    enum class Source { NONE, OPTIONS_FILE, ENVIRONMENT, XSETTINGS, XFT_DPI, KDE };
    Source source = Source::NONE;
    std::vector<std::string> options;   // for the end of the VM's option list
    std::vector<std::string> warnings;  // one line for each source that could not be read
    std::string decision;               // one line: the source, the factor, what was added
};

// The first source that gives a factor decides; see the user guide for the order.
DisplayScale decideDisplayScale(const DisplayScaleInputs& inputs);

// The display and the configuration files of this start.
DisplaySettings readDisplaySettings(const char* display);
SettingsText readUserConfigFile(const std::string& name);

// Decides for this start, logs under `logName` and appends the options to `entries`.
void addDisplayScaleOptions(const OptionFiles& optionFiles, std::vector<OptionEntry>& entries, const char* logName);

}  // namespace corvane::jvm
