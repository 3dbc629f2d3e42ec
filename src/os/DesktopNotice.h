// A short message to the person at the desktop, for a start that ends before
// the application could say anything itself.
#pragma once

#include <string>

namespace OS {

// True when a desktop session is there to show a message in (DISPLAY or WAYLAND_DISPLAY set).
bool hasDesktopSession();

// Shows `summary` and `body` through the desktop's notification service
// (notify-send or gdbus, each waited for a few seconds), else through a dialog program the
// desktop has (zenity, kdialog, xmessage; left running on its own). Uses the
// programs found on PATH with plain argument lists; false when none could show it.
bool showDesktopNotice(const std::string& appName, const std::string& summary, const std::string& body);

}  // namespace OS
