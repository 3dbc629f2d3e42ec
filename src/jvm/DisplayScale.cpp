// The decision: the first source that gives a factor wins, and a line in any
// options file that sets the scale wins over all of them.
#include "jvm/DisplayScale.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "log/DumpLoggerBuilder.h"
#include "os/DesktopSettings.h"

namespace corvane::jvm {

namespace {

// A scale beyond this is a broken setting, not a screen.
constexpr double MAX_FACTOR = 8;
constexpr double BASE_DPI = 96;
// XSETTINGS keeps its DPI in 1024ths.
constexpr double XSETTINGS_DPI_UNIT = 1024;
// Digits enough for any scale or DPI, and far from overflowing.
constexpr long long MAX_MANTISSA = 100000000000000;
// The options files' lines that decide the scale themselves.
constexpr std::string_view SCALE_PROPERTIES[] = {"-Dsun.java2d.uiScale", "-Dsun.java2d.uiScale.enabled",
                                                 "-Dcorvane.display.scale"};

struct Found {
    bool found = false;
    double factor = 0;
    std::string what;  // for the log: "Xft.dpi 192"
};

// A plain decimal number at the start of `text` (blanks before it skipped), as
// the JDK's strtod reads J2D_UISCALE and GDK_SCALE, but never with the locale's
// decimal point. With `whole`, nothing but blanks may follow it.
bool readDecimal(const std::string& text, bool whole, double& value) {
    std::size_t at = text.find_first_not_of(" \t");
    if (at == std::string::npos) {
        return false;
    }
    const bool negative = text[at] == '-';
    at += text[at] == '-' || text[at] == '+' ? 1 : 0;
    long long mantissa = 0;
    int decimals = 0;
    bool digits = false;
    bool point = false;
    for (; at < text.size(); ++at) {
        if (text[at] >= '0' && text[at] <= '9') {
            if (mantissa >= MAX_MANTISSA) {
                return false;  // no scale has so many digits
            }
            mantissa = mantissa * 10 + (text[at] - '0');
            decimals += point ? 1 : 0;
            digits = true;
        } else if (text[at] == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    value = static_cast<double>(negative ? -mantissa : mantissa) / std::pow(10.0, decimals);
    return digits && (!whole || text.find_first_not_of(" \t\r", at) == std::string::npos);
}

// The factor to three decimals, without trailing zeros: "2", "1.5", "1.333".
std::string factorText(double factor) {
    const long long thousandths = std::llround(factor * 1000);
    std::string text = std::to_string(thousandths / 1000);
    if (thousandths % 1000 != 0) {
        std::string fraction = std::to_string(1000 + thousandths % 1000).substr(1);
        text += "." + fraction.substr(0, fraction.find_last_not_of('0') + 1);
    }
    return text;
}

// The nearest whole number, at least 1, of the factor as logged. A half rounds
// up, so 1.5 gives 2: in ratio 2 is the nearer size (4/3 of what the desktop
// asks, against 2/3 at 1), and a desktop is set to 150% because 100% is too
// small to read.
long long wholeScale(double factor) {
    return std::max(1LL, (std::llround(factor * 1000) + 500) / 1000);
}

Found found(double factor, const std::string& what, std::vector<std::string>& reasons) {
    if (!(factor > 0 && factor <= MAX_FACTOR)) {
        reasons.push_back(what + " is no screen's scale");
        return Found();
    }
    return {true, factor, what};
}

// The last line of the options files that sets one of SCALE_PROPERTIES, and its file.
const OptionFile* scaleLine(const OptionFiles& files, std::string& line) {
    const OptionFile* from = nullptr;
    for (const OptionFile* file : {&files.tree, &files.system, &files.user, &files.jvmArgs}) {
        for (const std::string& candidate : file->lines) {
            for (const std::string_view property : SCALE_PROPERTIES) {
                if (candidate.compare(0, property.size(), property) == 0 &&
                    (candidate.size() == property.size() || candidate[property.size()] == '=')) {
                    from = file;
                    line = candidate;
                }
            }
        }
    }
    return from;
}

// A text that is there, or none with the reason noted: a failure as a warning of its own.
bool usable(const SettingsText& text, const std::string& source, DisplayScale& scale, std::vector<std::string>& reasons) {
    if (text.outcome == SettingsText::FAILED) {
        scale.warnings.push_back("No display scale from " + source + ": " + text.problem);
        reasons.push_back(source + " unreadable");
    } else if (text.outcome == SettingsText::ABSENT) {
        reasons.push_back(text.problem);
    }
    return text.outcome == SettingsText::READ;
}

// The window scale when it is above 1, else the DPI: with a scale GNOME's DPI
// also holds its text scaling, which is a font size, not the screen's scale.
Found fromXSettings(const SettingsText& text, DisplayScale& scale, std::vector<std::string>& reasons) {
    if (!usable(text, "XSETTINGS", scale, reasons)) {
        return Found();
    }
    const OS::XSettings settings = OS::parseXSettings(text.text);
    if (!settings.valid) {
        scale.warnings.push_back("No display scale from XSETTINGS: " + settings.problem);
        reasons.push_back("XSETTINGS not understood");
        return Found();
    }
    const auto windowScale = settings.integers.find("Gdk/WindowScalingFactor");
    const auto dpi = settings.integers.find("Xft/DPI");
    const bool hasScale = windowScale != settings.integers.end();
    if (hasScale && windowScale->second > 1) {
        return found(windowScale->second, "XSETTINGS Gdk/WindowScalingFactor " + std::to_string(windowScale->second),
                     reasons);
    }
    // A DPI of -1 says "the default".
    if (dpi != settings.integers.end() && dpi->second > 0) {
        return found(dpi->second / XSETTINGS_DPI_UNIT / BASE_DPI,
                     "XSETTINGS Xft/DPI " + std::to_string(dpi->second) + " (" +
                         factorText(dpi->second / XSETTINGS_DPI_UNIT) + " dpi)",
                     reasons);
    }
    if (hasScale) {
        return found(windowScale->second, "XSETTINGS Gdk/WindowScalingFactor " + std::to_string(windowScale->second),
                     reasons);
    }
    reasons.emplace_back("XSETTINGS has neither Gdk/WindowScalingFactor nor Xft/DPI");
    return Found();
}

Found fromResources(const SettingsText& text, DisplayScale& scale, std::vector<std::string>& reasons) {
    if (!usable(text, "RESOURCE_MANAGER", scale, reasons)) {
        return Found();
    }
    const std::optional<std::string> value = OS::findResource(text.text, "Xft.dpi");
    double dpi = 0;
    if (!value) {
        reasons.emplace_back("no Xft.dpi resource");
        return Found();
    }
    return readDecimal(*value, true, dpi) ? found(dpi / BASE_DPI, "Xft.dpi " + *value, reasons)
                                          : found(0, "Xft.dpi " + *value, reasons);
}

// KDE Plasma's global scale (kdeglobals) and the scale its Wayland session gives
// X applications (kwinrc). GNOME's own setting lives in dconf's binary database,
// which takes a GVariant reader to parse; GNOME publishes its scale through
// XSETTINGS (gsd-xsettings) anyway, which is read above.
Found fromKde(const DisplayScaleInputs& inputs, DisplayScale& scale, std::vector<std::string>& reasons) {
    const struct {
        const char* file;
        const char* group;
        const char* key;
    } places[] = {{"kdeglobals", "KScreen", "ScaleFactor"}, {"kwinrc", "Xwayland", "Scale"}};
    for (const auto& place : places) {
        const SettingsText text = inputs.readConfigFile(place.file);
        if (!usable(text, place.file, scale, reasons)) {
            continue;
        }
        const std::optional<std::string> value = OS::findKdeConfigValue(text.text, place.group, place.key);
        double factor = 0;
        const std::string what = std::string(place.file) + " [" + place.group + "] " + place.key;
        if (!value) {
            reasons.push_back("no " + what);
            continue;
        }
        Found kde = found(readDecimal(*value, true, factor) ? factor : 0, what + "=" + *value, reasons);
        if (kde.found) {
            return kde;
        }
    }
    return Found();
}

bool isKdeSession(const char* currentDesktop) {
    const std::string desktops = std::string(":") + (currentDesktop != nullptr ? currentDesktop : "") + ":";
    return desktops.find(":KDE:") != std::string::npos;
}

void decide(DisplayScale& scale, DisplayScale::Source source, const Found& factor) {
    scale.source = source;
    const std::string text = factorText(factor.factor);
    scale.decision = "Display scale " + text + " from " + factor.what;
    if (text == "1") {
        scale.decision += ": nothing to add";
        return;
    }
    scale.options = {"-Dsun.java2d.uiScale=" + std::to_string(wholeScale(factor.factor)),
                     "-Dcorvane.display.scale=" + text};
    scale.decision += ": " + scale.options[0] + " " + scale.options[1];
}

}  // namespace

DisplayScale decideDisplayScale(const DisplayScaleInputs& inputs) {
    DisplayScale scale;
    std::string line;
    if (const OptionFile* file = scaleLine(*inputs.optionFiles, line)) {
        scale.source = DisplayScale::Source::OPTIONS_FILE;
        scale.decision = "Display scale left to " + file->description + ": " + line;
        return scale;
    }
    std::vector<std::string> reasons;
    // As the JDK reads them: a number of 1 or more, its whole part taken.
    for (const auto& [name, value] : {std::pair{"J2D_UISCALE", inputs.j2dUiScale}, {"GDK_SCALE", inputs.gdkScale}}) {
        double factor = 0;
        if (value != nullptr && readDecimal(value, false, factor) && factor >= 1) {
            scale.source = DisplayScale::Source::ENVIRONMENT;
            scale.decision = "Display scale " + std::to_string(static_cast<int>(factor)) + " from " + name + "=" +
                             value + ", which the JDK reads itself: nothing to add";
            return scale;
        }
        reasons.push_back(value == nullptr ? std::string(name) + " unset"
                                           : std::string(name) + "=" + value + " ignored, as the JDK ignores it");
    }
    const DisplaySettings display = inputs.readDisplay();
    if (display.visit == SettingsText::FAILED) {
        scale.warnings.push_back("No display scale from the X server: " + display.problem);
        reasons.emplace_back("X server unreadable");
    } else if (display.visit == SettingsText::ABSENT) {
        reasons.push_back(display.problem);
    } else {
        const Found xsettings = fromXSettings(display.xsettings, scale, reasons);
        if (xsettings.found) {
            decide(scale, DisplayScale::Source::XSETTINGS, xsettings);
            return scale;
        }
        const Found resources = fromResources(display.resources, scale, reasons);
        if (resources.found) {
            decide(scale, DisplayScale::Source::XFT_DPI, resources);
            return scale;
        }
    }
    if (!isKdeSession(inputs.currentDesktop)) {
        reasons.emplace_back("not a KDE session");
    } else if (const Found kde = fromKde(inputs, scale, reasons); kde.found) {
        decide(scale, DisplayScale::Source::KDE, kde);
        return scale;
    }
    scale.decision = "No display scale:";
    for (std::size_t i = 0; i < reasons.size(); ++i) {
        scale.decision += (i == 0 ? " " : "; ") + reasons[i];
    }
    return scale;
}

void addDisplayScaleOptions(const OptionFiles& optionFiles, std::vector<OptionEntry>& entries, const char* logName) {
    DisplayScaleInputs inputs;
    inputs.optionFiles = &optionFiles;
    inputs.j2dUiScale = std::getenv("J2D_UISCALE");
    inputs.gdkScale = std::getenv("GDK_SCALE");
    inputs.currentDesktop = std::getenv("XDG_CURRENT_DESKTOP");
    inputs.readDisplay = [] { return readDisplaySettings(std::getenv("DISPLAY")); };
    inputs.readConfigFile = readUserConfigFile;
    const DisplayScale scale = decideDisplayScale(inputs);
    for (const std::string& warning : scale.warnings) {
        DumpLoggerBuilder(DumpLoggerBuilder::WARNING) << logName << warning;
    }
    DumpLoggerBuilder(DumpLoggerBuilder::INFO) << logName << scale.decision;
    for (const std::string& option : scale.options) {
        entries.push_back(OptionEntry{option, nullptr});
    }
}

}  // namespace corvane::jvm
