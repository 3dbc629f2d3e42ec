// The display scale's sources and their order, through the pure decision: each
// row gives what the sources hold (XSETTINGS blobs built here as the
// byte layout freedesktop.org documents for XSETTINGS) and expects the source
// that decides, the options it adds, its log line and which reads it made.
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "jvm/DisplayScale.h"
#include "support/TestSupport.h"

namespace {

using corvane::jvm::DisplayScale;
using corvane::jvm::DisplayScaleInputs;
using corvane::jvm::DisplaySettings;
using corvane::jvm::SettingsText;
using Source = DisplayScale::Source;

// One XSETTINGS setting: an integer, or a string or colour to be passed over.
struct Setting {
    std::string name;
    int type;  // 0 integer, 1 string, 2 colour
    std::int32_t value;
};

enum Order { LSB_FIRST = 0, MSB_FIRST = 1 };

void put(std::string& blob, std::uint32_t value, int bytes, Order order) {
    for (int i = 0; i < bytes; ++i) {
        const int shift = 8 * (order == MSB_FIRST ? bytes - 1 - i : i);
        blob.push_back(static_cast<char>(value >> shift & 0xffU));
    }
}

std::string xsettings(const std::vector<Setting>& settings, Order order = LSB_FIRST) {
    std::string blob(1, static_cast<char>(order));
    blob.append(3, '\0');
    put(blob, 7, 4, order);  // serial
    put(blob, static_cast<std::uint32_t>(settings.size()), 4, order);
    for (const Setting& s : settings) {
        blob.push_back(static_cast<char>(s.type));
        blob.push_back('\0');
        put(blob, static_cast<std::uint32_t>(s.name.size()), 2, order);
        blob.append(s.name).append((4 - s.name.size() % 4) % 4, '\0');
        put(blob, 3, 4, order);  // last change
        if (s.type == 0) {
            put(blob, static_cast<std::uint32_t>(s.value), 4, order);
        } else if (s.type == 1) {
            put(blob, 7, 4, order);
            blob.append("Adwaita").append(1, '\0');
        } else {
            blob.append(8, '\x7f');
        }
    }
    return blob;
}

const std::string THEME_ONLY = xsettings({{"Net/ThemeName", 1, 0}});
const std::string WINDOW_SCALE_2 = xsettings({{"Gdk/WindowScalingFactor", 0, 2}, {"Xft/DPI", 0, 240 * 1024}});
const std::string DPI_144_AT_SCALE_1 = xsettings({{"Gdk/WindowScalingFactor", 0, 1}, {"Xft/DPI", 0, 144 * 1024}});
const std::string DPI_120_MSB = xsettings(
    {{"Net/ThemeName", 1, 0}, {"Gtk/Color", 2, 0}, {"Xft/DPI", 0, 120 * 1024}, {"Gtk/CursorThemeSize", 0, 24}}, MSB_FIRST);
const std::string CUT_SHORT = WINDOW_SCALE_2.substr(0, WINDOW_SCALE_2.size() - 6);

struct ScaleCase {
    const char* name;
    // What the sources hold: "options" (a line of the user's options file),
    // "J2D_UISCALE", "GDK_SCALE", "XDG_CURRENT_DESKTOP", "display" ("unset" or
    // "fails"; else reachable), "xsettings", "resources", "kdeglobals", "kwinrc".
    std::map<std::string, std::string> given;
    Source source;
    const char* uiScale;   // -Dsun.java2d.uiScale= added, nullptr for no options
    const char* factor;    // -Dcorvane.display.scale= added
    std::string decision;  // the log line starts so
    const char* asked;     // the lazy reads made, in order
    std::size_t warnings;
};

void PrintTo(const ScaleCase& c, std::ostream* os) {
    *os << c.name;
}

class DisplayScaleTable : public testing::TestWithParam<ScaleCase> {};

TEST_P(DisplayScaleTable, FirstSourceWithAFactorDecides) {
    const ScaleCase& c = GetParam();
    auto given = [&c](const std::string& key) -> const std::string* {
        const auto it = c.given.find(key);
        return it == c.given.end() ? nullptr : &it->second;
    };
    auto text = [&given](const std::string& key, const std::string& absent) {
        SettingsText read;
        read.outcome = given(key) != nullptr ? SettingsText::READ : SettingsText::ABSENT;
        read.text = given(key) != nullptr ? *given(key) : "";
        read.problem = given(key) != nullptr ? "" : absent;
        return read;
    };
    corvane::jvm::OptionFiles files;
    files.user.description = "the user's jvm options file /u";
    if (given("options") != nullptr) {
        files.user.lines = {"-Xmx1g", *given("options")};
    }
    std::string asked;
    DisplayScaleInputs in;
    in.optionFiles = &files;
    in.j2dUiScale = given("J2D_UISCALE") != nullptr ? given("J2D_UISCALE")->c_str() : nullptr;
    in.gdkScale = given("GDK_SCALE") != nullptr ? given("GDK_SCALE")->c_str() : nullptr;
    in.currentDesktop = given("XDG_CURRENT_DESKTOP") != nullptr ? given("XDG_CURRENT_DESKTOP")->c_str() : nullptr;
    in.readDisplay = [&] {
        asked += asked.empty() ? "display" : " display";
        DisplaySettings display;
        const std::string how = given("display") != nullptr ? *given("display") : "";
        display.visit = how == "unset" ? SettingsText::ABSENT : how == "fails" ? SettingsText::FAILED : SettingsText::READ;
        display.problem = how == "unset" ? "DISPLAY unset" : "the X server did not answer in time";
        display.xsettings = text("xsettings", "no XSETTINGS manager on screen 0");
        display.resources = text("resources", "no RESOURCE_MANAGER");
        return display;
    };
    in.readConfigFile = [&](const std::string& name) {
        asked += (asked.empty() ? "" : " ") + name;
        return text(name, "no /home/u/.config/" + name);
    };

    const DisplayScale scale = corvane::jvm::decideDisplayScale(in);
    EXPECT_EQ(scale.source, c.source);
    const std::vector<std::string> options =
        c.uiScale == nullptr ? std::vector<std::string>()
                             : std::vector<std::string>{std::string("-Dsun.java2d.uiScale=") + c.uiScale,
                                                        std::string("-Dcorvane.display.scale=") + c.factor};
    EXPECT_EQ(scale.options, options);
    EXPECT_EQ(scale.decision.rfind(c.decision, 0), 0U) << scale.decision;
    EXPECT_EQ(asked, c.asked);
    EXPECT_EQ(scale.warnings.size(), c.warnings) << corvane::test::joinLines(scale.warnings);
}

const std::string NOTHING_IN_X = "No display scale: J2D_UISCALE unset; GDK_SCALE unset; no XSETTINGS manager on screen 0";

INSTANTIATE_TEST_SUITE_P(
    Sources, DisplayScaleTable,
    testing::Values(
        ScaleCase{"OptionsLineWins", {{"options", "-Dsun.java2d.uiScale=1"}, {"resources", "Xft.dpi: 192\n"}},
                  Source::OPTIONS_FILE, nullptr, nullptr,
                  "Display scale left to the user's jvm options file /u: -Dsun.java2d.uiScale=1", "", 0},
        ScaleCase{"UiScaleEnabledLineWins", {{"options", "-Dsun.java2d.uiScale.enabled=false"}, {"GDK_SCALE", "2"}},
                  Source::OPTIONS_FILE, nullptr, nullptr, "Display scale left to", "", 0},
        ScaleCase{"AnotherPropertyWithTheSamePrefixDoesNot",
                  {{"options", "-Dsun.java2d.uiScaleFactor=3"}, {"resources", "Xft.dpi: 192\n"}}, Source::XFT_DPI, "2",
                  "2", "Display scale 2 from Xft.dpi 192: -Dsun.java2d.uiScale=2 -Dcorvane.display.scale=2",
                  "display", 0},
        ScaleCase{"J2dUiScaleIsTheJdks", {{"J2D_UISCALE", "2"}, {"GDK_SCALE", "3"}, {"resources", "Xft.dpi: 96\n"}},
                  Source::ENVIRONMENT, nullptr, nullptr,
                  "Display scale 2 from J2D_UISCALE=2, which the JDK reads itself: nothing to add", "", 0},
        ScaleCase{"GdkScaleIsTheJdksWholePart", {{"GDK_SCALE", "2.7"}, {"resources", "Xft.dpi: 96\n"}},
                  Source::ENVIRONMENT, nullptr, nullptr, "Display scale 2 from GDK_SCALE=2.7, which the JDK", "", 0},
        ScaleCase{"GdkScaleTheJdkIgnoresIsPassedOver", {{"GDK_SCALE", "0.5"}, {"resources", "Xft.dpi: 192\n"}},
                  Source::XFT_DPI, "2", "2", "Display scale 2 from Xft.dpi 192", "display", 0},
        ScaleCase{"XSettingsWindowScaleBeforeItsDpiAndXftDpi",
                  {{"xsettings", WINDOW_SCALE_2}, {"resources", "Xft.dpi: 96\n"}}, Source::XSETTINGS, "2", "2",
                  "Display scale 2 from XSETTINGS Gdk/WindowScalingFactor 2", "display", 0},
        ScaleCase{"XSettingsDpiAtWindowScale1HalfRoundsUp", {{"xsettings", DPI_144_AT_SCALE_1}}, Source::XSETTINGS,
                  "2", "1.5", "Display scale 1.5 from XSETTINGS Xft/DPI 147456 (144 dpi)", "display", 0},
        ScaleCase{"XSettingsMsbFirstPastStringsAndColours", {{"xsettings", DPI_120_MSB}}, Source::XSETTINGS, "1",
                  "1.25", "Display scale 1.25 from XSETTINGS Xft/DPI 122880 (120 dpi)", "display", 0},
        ScaleCase{"XSettingsWithoutAScaleFallsToXftDpi",
                  {{"xsettings", THEME_ONLY}, {"resources", "*customization:\t-color\nXft.dpi:\t168\n"}},
                  Source::XFT_DPI, "2", "1.75", "Display scale 1.75 from Xft.dpi 168", "display", 0},
        ScaleCase{"XSettingsCutShortWarnsAndFallsToXftDpi",
                  {{"xsettings", CUT_SHORT}, {"resources", "Xft.dpi: 120\nXft.dpi:\t144\n"}}, Source::XFT_DPI, "2",
                  "1.5", "Display scale 1.5 from Xft.dpi 144", "display", 1},
        ScaleCase{"XftDpi96AddsNothingAndEndsTheSearch",
                  {{"resources", "Xft.dpi: 96\n"}, {"XDG_CURRENT_DESKTOP", "KDE"}, {"kdeglobals", "[KScreen]\nScaleFactor=2\n"}},
                  Source::XFT_DPI, nullptr, nullptr, "Display scale 1 from Xft.dpi 96: nothing to add", "display", 0},
        ScaleCase{"XftDpiZeroIsNoScale", {{"resources", "Xft.dpi: 0\n"}}, Source::NONE, nullptr, nullptr,
                  NOTHING_IN_X + "; Xft.dpi 0 is no screen's scale; not a KDE session", "display", 0},
        ScaleCase{"KdeGlobalsInAKdeSession",
                  {{"display", "unset"}, {"XDG_CURRENT_DESKTOP", "KDE"},
                   {"kdeglobals", "[General]\nScaleFactor=3\n\n[KScreen]\nScaleFactor=1.5\nScreenScaleFactors=eDP-1=1.5;\n"}},
                  Source::KDE, "2", "1.5", "Display scale 1.5 from kdeglobals [KScreen] ScaleFactor=1.5",
                  "display kdeglobals", 0},
        ScaleCase{"KwinrcAfterKdeGlobals",
                  {{"XDG_CURRENT_DESKTOP", "KDE"}, {"kdeglobals", "[KDE]\nwidgetStyle=Breeze\n"},
                   {"kwinrc", "[Xwayland]\nScale=2\n"}},
                  Source::KDE, "2", "2", "Display scale 2 from kwinrc [Xwayland] Scale=2",
                  "display kdeglobals kwinrc", 0},
        ScaleCase{"KdeFilesOutsideAKdeSessionAreNotRead",
                  {{"XDG_CURRENT_DESKTOP", "ubuntu:GNOME"}, {"kdeglobals", "[KScreen]\nScaleFactor=2\n"}},
                  Source::NONE, nullptr, nullptr, NOTHING_IN_X + "; no RESOURCE_MANAGER; not a KDE session",
                  "display", 0},
        ScaleCase{"UnreadableDisplayWarnsOnce", {{"display", "fails"}}, Source::NONE, nullptr, nullptr,
                  "No display scale: J2D_UISCALE unset; GDK_SCALE unset; X server unreadable; not a KDE session",
                  "display", 1},
        ScaleCase{"NoDisplay", {{"display", "unset"}}, Source::NONE, nullptr, nullptr,
                  "No display scale: J2D_UISCALE unset; GDK_SCALE unset; DISPLAY unset; not a KDE session", "display",
                  0}),
    corvane::test::RowName());

}  // namespace
