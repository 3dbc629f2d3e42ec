// The splash screen before the VM: libsplashscreen's C entry points, called in
// the order java's launcher calls them (libjli's ShowSplashScreen).
#include "jvm/Splash.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <jni.h>

#include "jvm/JvmOptions.h"
#include "log/DumpLoggerBuilder.h"

namespace {

const char SPLASH_LIBRARY_RELATIVE_PATH[] = "jre/lib/libsplashscreen.so";

using SplashInitFunction = int (*)();
using SplashLoadFileFunction = int (*)(const char*);
using SplashSetFileJarNameFunction = void (*)(const char*, const char*);
using SplashSetScaleFactorFunction = void (*)(float);
using SplashGetScaledImgNameMaxPstfixLenFunction = int (*)(const char*);
using SplashGetScaledImageNameFunction = jboolean (*)(const char*, const char*, float*, char*, std::size_t);

struct SplashLibrary {
    SplashInitFunction init = nullptr;
    SplashLoadFileFunction loadFile = nullptr;
    SplashSetFileJarNameFunction setFileJarName = nullptr;
    SplashSetScaleFactorFunction setScaleFactor = nullptr;
    SplashGetScaledImgNameMaxPstfixLenFunction scaledNameLength = nullptr;
    SplashGetScaledImageNameFunction scaledName = nullptr;
};

// Sets `slot` to the library's symbol; false, with `missing` named, without it.
template <typename Function>
bool resolve(void* library, const char* name, Function& slot, std::string& missing) {
    slot = reinterpret_cast<Function>(::dlsym(library, name));
    if (slot == nullptr) {
        missing = name;
    }
    return slot != nullptr;
}

// Loads the library and its entry points; the reason in `problem` when it cannot.
bool loadSplashLibrary(const std::string& path, SplashLibrary& splash, std::string& problem) {
    // RTLD_GLOBAL as java: AWT closes the splash at the first window through the
    // process's global scope (dlopen(NULL) and "SplashClose"). Its own later load
    // of the same file gets this instance back: glibc knows a loaded file by its
    // device and inode, whatever path names it.
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (library == nullptr) {
        const char* reason = ::dlerror();
        // glibc's reason names the file.
        problem = reason != nullptr ? reason : "cannot load " + path;
        return false;
    }
    std::string missing;
    if (!resolve(library, "SplashInit", splash.init, missing) ||
        !resolve(library, "SplashLoadFile", splash.loadFile, missing) ||
        !resolve(library, "SplashSetFileJarName", splash.setFileJarName, missing) ||
        !resolve(library, "SplashSetScaleFactor", splash.setScaleFactor, missing) ||
        !resolve(library, "SplashGetScaledImgNameMaxPstfixLen", splash.scaledNameLength, missing) ||
        !resolve(library, "SplashGetScaledImageName", splash.scaledName, missing)) {
        problem = path + " has no " + missing;
        return false;
    }
    return true;
}

// The image to load for the screen's scale (GDK_SCALE, J2D_UISCALE): the library
// looks for "<name>@200pct.<ext>" and "<name>@2x.<ext>" beside the image, as for java.
std::string scaledImage(const SplashLibrary& splash, const std::string& image, float& scale) {
    scale = 1;
    const int length = splash.scaledNameLength(image.c_str());
    if (length <= 0) {
        return image;
    }
    std::vector<char> name(static_cast<std::size_t>(length) + 1, '\0');
    if (splash.scaledName(nullptr, image.c_str(), &scale, name.data(), name.size()) == JNI_FALSE) {
        scale = 1;
        return image;
    }
    return std::string(name.data());
}

// What the log says: why the splash is not shown, or that it is up.
std::string show(const std::string& installDir, const std::string& image) {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        return "No splash screen: DISPLAY is not set";
    }
    struct stat info {};
    if (::stat(image.c_str(), &info) != 0 || ::access(image.c_str(), R_OK) != 0) {
        // NOLINTNEXTLINE(concurrency-mt-unsafe): the launcher has one thread so far
        return "No splash screen: cannot read " + image + ": " + std::strerror(errno);
    }
    // The library would wait on a FIFO's open for ever.
    if (!S_ISREG(info.st_mode)) {
        return "No splash screen: " + image + " is not a regular file";
    }
    SplashLibrary splash;
    std::string problem;
    if (!loadSplashLibrary(installDir + "/" + SPLASH_LIBRARY_RELATIVE_PATH, splash, problem)) {
        return "No splash screen: " + problem;
    }
    if (splash.init() == 0) {
        return std::string("No splash screen: cannot open the display ") + display;
    }
    float scale = 1;
    const std::string shown = scaledImage(splash, image, scale);
    if (scale != 1) {
        splash.setScaleFactor(scale);
    }
    if (splash.loadFile(shown.c_str()) == 0) {
        return "No splash screen: " + shown + " is not an image the runtime can show (PNG, GIF or JPEG)";
    }
    // What java.awt.SplashScreen.getImageURL() answers.
    splash.setFileJarName(image.c_str(), nullptr);
    char scaleText[32];
    (void)std::snprintf(scaleText, sizeof scaleText, " (scale %g)", static_cast<double>(scale));
    return "Splash screen shown: " + shown + (scale != 1 ? scaleText : "");
}

// The record's image path is relative and never leaves the tree.
bool staysInTree(const std::string& relative) {
    if (relative[0] == '/') {
        return false;
    }
    for (size_t start = 0; start <= relative.size();) {
        const size_t end = std::min(relative.find('/', start), relative.size());
        if (relative.compare(start, end - start, "..") == 0) {
            return false;
        }
        start = end + 1;
    }
    return true;
}

}  // namespace

namespace corvane::jvm {

void showSplash(const std::string& installDir, const TreeRecord& treeRecord, const OptionFiles& optionFiles) {
    const std::string& relative = treeRecord.splash;
    if (relative.empty()) {
        return;
    }
    if (!staysInTree(relative)) {
        CORVANE_LOG(INFO) << "No splash screen: " + relative + " is not a path below the tree";
        return;
    }
    // AWT, never opening a window when headless, would never close one shown here.
    if (optionFiles.asksForHeadless()) {
        CORVANE_LOG(INFO) << "No splash screen: the jvm options ask for java.awt.headless=true";
        return;
    }
    CORVANE_LOG(INFO) << show(installDir, installDir + "/" + relative);
}

}  // namespace corvane::jvm
