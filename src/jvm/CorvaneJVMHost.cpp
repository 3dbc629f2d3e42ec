#include "jvm/CorvaneJVMHost.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include "BuildVersion.h"
#include "jvm/AppClassArchive.h"
#include "jvm/BootstrapManifest.h"
#include "jvm/InstallDir.h"
#include "jvm/JvmOptions.h"
#include "log/DumbLogger.h"
#include "log/DumpLoggerBuilder.h"
#include "os/OSHelper.h"

using corvane::jvm::OptionEntry;

namespace {

const char JVM_LIBRARY_RELATIVE_PATH[] = "jre/lib/server/libjvm.so";

using CreateJavaVMFunction = jint (*)(JavaVM**, void**, void*);

// The VM's console output goes to the native log, one line per call.
jint jvm_vprintf(FILE* /*stream*/, const char* format, va_list args) {
    char buffer[1024];
    std::memset(buffer, 0, sizeof buffer);
    const int length = std::vsnprintf(buffer, 1020, format, args);
    CORVANE_LOG(INFO) << "JVM: " << buffer;
    return length;
}

void jvm_exit(jint code) {
    CORVANE_LOG(INFO) << "JVM: exit(" << static_cast<int>(code) << ")";
}

void jvm_abort() {
    CORVANE_LOG(INFO) << "JVM: abort()";
}

char* to_c_str(const std::string& text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy != nullptr) {
        std::memcpy(copy, text.c_str(), text.size() + 1);
    }
    return copy;
}

JavaVMOption makeOpt(char* text) {
    JavaVMOption option;
    option.optionString = text;
    option.extraInfo = nullptr;
    return option;
}

std::string computeStackSizeOpt() {
    return corvane::jvm::stackSizeOptForPageSize(::sysconf(_SC_PAGESIZE));
}

void freeOptionTexts(std::vector<JavaVMOption>& options) {
    for (JavaVMOption& option : options) {
        std::free(option.optionString);
        option.optionString = nullptr;
    }
}

// Copies every entry into VM option records with malloc'd texts. Returns false,
// with nothing left allocated, when a copy cannot be made.
bool toJavaVMOptions(const std::vector<OptionEntry>& entries, std::vector<JavaVMOption>& options) {
    options.reserve(entries.size());
    for (const OptionEntry& entry : entries) {
        char* text = to_c_str(entry.text);
        if (text == nullptr) {
            freeOptionTexts(options);
            options.clear();
            return false;
        }
        JavaVMOption option = makeOpt(text);
        option.extraInfo = entry.extraInfo;
        options.push_back(option);
    }
    return true;
}

// The parts of the option list that come from the environment and the system.
void collectTuningInputs(corvane::jvm::OptionInputs& inputs) {
    inputs.logsDir = getLogsHome();
    inputs.pid = OSHelper::getPid();
    inputs.aggressiveOptimizations = std::getenv("CORVANE_AGGRESSIVE_OPTIMIZATIONS");
    inputs.forceSerialGc = std::getenv("CORVANE_GC_FORCE_SERIAL_GC");
    inputs.forceParallelGc = std::getenv("CORVANE_GC_FORCE_PARALLEL_GC");
    inputs.aggressiveReclaim = std::getenv("CORVANE_GC_AGGRESSIVE_RECLAIM");
    inputs.maxPauseMillis = std::getenv("CORVANE_GC_MAX_PAUSE_MILLIS");
    inputs.tmpDir = std::getenv("TMPDIR");
    inputs.tmpDirIsDirectory = inputs.tmpDir != nullptr && OS::isDirectory(inputs.tmpDir);
    inputs.version = CORVANE_BUILD_VERSION;
    inputs.vprintfHook = reinterpret_cast<void*>(&jvm_vprintf);
    inputs.exitHook = reinterpret_cast<void*>(&jvm_exit);
    inputs.abortHook = reinterpret_cast<void*>(&jvm_abort);
    inputs.stackSizeOption = computeStackSizeOpt();
}

// Reads the tree's own JVM options file into `lines`. A tree without one has
// no such options; one that exists but cannot be read stops the start, since
// the packager's options (a larger heap, opened modules) may be essential.
bool readTreeOptions(const std::string& installDir, std::vector<std::string>& lines) {
    const std::string path = corvane::jvm::libDirFor(installDir) + corvane::jvm::TREE_JVM_OPTIONS_FILE;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 && errno == ENOENT) {
        return true;
    }
    if (!corvane::jvm::readJvmArgsFile(path, lines)) {
        CORVANE_LOG(ERROR) << "Unable to open the tree's jvm options file: " << path;
        return false;
    }
    CORVANE_LOG(INFO) << "Using the tree's jvm options file: " << path;
    corvane::jvm::expandInstallDir(lines, installDir);
    return true;
}

// The application's name from the tree's record; empty, with the reason
// logged, when the tree names none: then no system or user file is read.
std::string applicationName(const std::string& installDir, const OS::FileText& record) {
    const std::string path = corvane::jvm::libDirFor(installDir) + corvane::jvm::TREE_RECORD_FILE;
    const std::string skipped = "; the system's and the user's jvm options files are not read";
    if (record.outcome == OS::FileText::ABSENT) {
        CORVANE_LOG(INFO) << "No application name: the tree has no " + path + skipped;
        return std::string();
    }
    if (record.outcome == OS::FileText::REFUSED) {
        CORVANE_LOG(WARNING) << "No application name: cannot read " + path + ": " + record.problem + skipped;
        return std::string();
    }
    std::string name = corvane::jvm::treeRecordValue(record.text, "name");
    if (!corvane::jvm::isApplicationName(name)) {
        CORVANE_LOG(INFO) << "No application name: " + path + " has no valid name line (name=" + name + ")" + skipped;
        return std::string();
    }
    return name;
}

// Reads the system's or the user's JVM options file into `lines`. Either is
// the machine's or the user's own: one that is absent or cannot be read
// leaves the start as it would be without it.
void readOptionsFile(const std::string& whose, const std::string& path, const std::string& installDir,
                     std::vector<std::string>& lines) {
    const OS::FileText file = OS::readRegularFile(path);
    if (file.outcome == OS::FileText::ABSENT) {
        CORVANE_LOG(DEBUG) << "The " + whose + " jvm options file " + path + " does not exist";
        return;
    }
    if (file.outcome == OS::FileText::REFUSED) {
        CORVANE_LOG(WARNING) << "Skipping the " + whose + " jvm options file " + path + ": " + file.problem;
        return;
    }
    std::istringstream in(file.text);
    lines = corvane::jvm::readJvmArgsLines(in);
    corvane::jvm::expandInstallDir(lines, installDir);
    CORVANE_LOG(INFO) << "Using the " + whose + " jvm options file " + path + ": " + std::to_string(lines.size()) +
                             (lines.size() == 1 ? " option" : " options");
}

// A file whose lines stand in the option list, named for the message when
// the VM refuses the list.
struct OptionFile {
    std::string description;
    const std::vector<std::string>* lines;
};

// The system's and then the user's JVM options files of the application that
// the tree's record names.
void readSystemAndUserOptions(corvane::jvm::OptionInputs& inputs, const OS::FileText& treeRecord,
                              std::vector<OptionFile>& files) {
    const std::string name = applicationName(inputs.installDir, treeRecord);
    if (name.empty()) {
        return;
    }
    const std::string systemPath = corvane::jvm::systemJvmOptionsPath(name);
    readOptionsFile("system's", systemPath, inputs.installDir, inputs.systemOptionLines);
    files.push_back({"the system's jvm options file " + systemPath, &inputs.systemOptionLines});
    const std::string userPath =
        corvane::jvm::userJvmOptionsPath(name, std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
    if (userPath.empty()) {
        CORVANE_LOG(DEBUG) << "No user jvm options file: neither XDG_CONFIG_HOME nor HOME is an absolute path";
        return;
    }
    readOptionsFile("user's", userPath, inputs.installDir, inputs.userOptionLines);
    files.push_back({"the user's jvm options file " + userPath, &inputs.userOptionLines});
}

// Which file gave which options, so that the user finds the line to mend.
void logOptionFiles(const std::vector<OptionFile>& files) {
    for (const OptionFile& file : files) {
        if (file.lines->empty()) {
            continue;
        }
        std::string text = "Options from " + file.description + ":\n\t";
        for (const std::string& line : *file.lines) {
            text.append(line).append("\n\t");
        }
        CORVANE_LOG(ERROR) << text;
    }
}

}  // namespace

void* CorvaneJVMHost::resolveJNICreateFunction() {
    // Never relative to the working directory: startJVM has checked the install directory.
    const std::string path = OS::getApplicationInstallDir() + "/" + JVM_LIBRARY_RELATIVE_PATH;
    void* library = ::dlopen(path.c_str(), RTLD_NOW);
    if (library == nullptr) {
        const char* reason = ::dlerror();
        CORVANE_LOG(WARNING) << "Cannot load " << path << ": " << (reason != nullptr ? reason : "unknown error");
        return nullptr;
    }
    return ::dlsym(library, "JNI_CreateJavaVM");
}

// By value on purpose: the JVM thread hands over a copy of run's path.
// cppcheck-suppress passedByValue
OS::FileText CorvaneJVMHost::readTreeRecord(const std::string& installDir) {
    return installDir.empty() ? OS::FileText{}
                              : OS::readRegularFile(corvane::jvm::libDirFor(installDir) + corvane::jvm::TREE_RECORD_FILE);
}

JavaVM* CorvaneJVMHost::startJVM(std::string jvmArgsPath,  // NOLINT(performance-unnecessary-value-param)
                                 const OS::FileText& treeRecord) {
    // Looked up once for the check and the options; the library loader reads it itself.
    const OS::InstallDirLookup installDir = OS::lookUpApplicationInstallDir();
    const std::string installDirProblem = corvane::jvm::installDirProblem(installDir);
    if (!installDirProblem.empty()) {
        CORVANE_LOG(ERROR) << installDirProblem;
        return nullptr;
    }
    void* createSymbol = resolveJNICreateFunction();
    if (createSymbol == nullptr) {
        CORVANE_LOG(ERROR) << "Failed to locate exported function to start VM";
        return nullptr;
    }
    auto createJavaVM = reinterpret_cast<CreateJavaVMFunction>(createSymbol);

    corvane::jvm::OptionInputs inputs;
    if (!jvmArgsPath.empty() && !corvane::jvm::readJvmArgsFile(jvmArgsPath, inputs.jvmArgsFileLines)) {
        CORVANE_LOG(ERROR) << "Unable to open jvm args file: " << jvmArgsPath;
        return nullptr;
    }
    inputs.installDir = installDir.path;
    const std::string libDir = corvane::jvm::libDirFor(inputs.installDir);
    if (!readTreeOptions(inputs.installDir, inputs.treeOptionLines)) {
        return nullptr;
    }
    inputs.classPath = corvane::jvm::collectJarsFromManifest(libDir + "manifest-bootstrap.txt", libDir);
    CORVANE_LOG(DEBUG) << "Using class path: "
                       << corvane::jvm::string_replace(inputs.classPath, corvane::jvm::CLASSPATH_SEPARATOR,
                                                       corvane::jvm::CLASSPATH_SEPARATOR_FOR_LOGS);
    std::vector<OptionFile> optionFiles = {
        {"the tree's jvm options file " + libDir + corvane::jvm::TREE_JVM_OPTIONS_FILE, &inputs.treeOptionLines}};
    readSystemAndUserOptions(inputs, treeRecord, optionFiles);
    optionFiles.push_back({"the jvm args file " + jvmArgsPath, &inputs.jvmArgsFileLines});
    collectTuningInputs(inputs);
    inputs.javaDefaultHeap =
        treeRecord.outcome == OS::FileText::READ && corvane::jvm::treeAsksForJavaHeap(treeRecord.text);
    if (inputs.javaDefaultHeap) {
        CORVANE_LOG(INFO) << "The tree's record asks for java's default heap limit: no -Xmx of the launcher's own";
    }
    std::vector<OptionEntry> entries = corvane::jvm::buildJvmOptionEntries(inputs);
    corvane::jvm::useAppClassArchive(entries, inputs.installDir, inputs.classPath,
                                     treeRecord.outcome == OS::FileText::READ ? treeRecord.text : std::string());
    CORVANE_LOG(INFO) << "JVM Args:" << corvane::jvm::formatOptionsForLog(entries);

    std::vector<JavaVMOption> options;
    if (!toJavaVMOptions(entries, options)) {
        CORVANE_LOG(ERROR) << "Out of memory while copying the JVM options";
        return nullptr;
    }

    JavaVMInitArgs initArgs;
    initArgs.version = JNI_VERSION_10;
    initArgs.nOptions = static_cast<jint>(options.size());
    initArgs.options = options.data();
    initArgs.ignoreUnrecognized = JNI_FALSE;

    CORVANE_LOG(INFO) << "Starting JVM";
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    const jint result = createJavaVM(&vm, reinterpret_cast<void**>(&env), &initArgs);
    if (result != 0) {
        logOptionFiles(optionFiles);
        CORVANE_LOG(ERROR) << "Error creating VM: code=" << static_cast<int>(result) << ". Exiting...\n";
        return nullptr;
    }
    freeOptionTexts(options);
    CORVANE_LOG(INFO) << "Java Virtual Machine is created!";
    return vm;
}
