#include "jvm/CorvaneJVMHost.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include "BuildVersion.h"
#include "Contract.h"
#include "jvm/AppClassArchive.h"
#include "jvm/BootstrapManifest.h"
#include "jvm/DisplayScale.h"
#include "jvm/InstallDir.h"
#include "jvm/JvmOptions.h"
#include "jvm/OptionFiles.h"
#include "jvm/VmHooks.h"
#include "log/DumbLogger.h"
#include "log/DumpLoggerBuilder.h"
#include "os/OSHelper.h"

using corvane::jvm::OptionEntry;

namespace {

const char JVM_LIBRARY_RELATIVE_PATH[] = "jre/lib/server/libjvm.so";
// As a start that cannot create its VM.
constexpr int JVM_OPTIONS_UNAVAILABLE = 53;

using CreateJavaVMFunction = jint (*)(JavaVM**, void**, void*);

// What the VM wrote to standard error while it was being created: its refusal of an option.
std::string creationOutput;

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
    inputs.aggressiveOptimizations = std::getenv(CONTRACT_ENV_AGGRESSIVE);
    inputs.forceSerialGc = std::getenv("CORVANE_GC_FORCE_SERIAL_GC");
    inputs.forceParallelGc = std::getenv("CORVANE_GC_FORCE_PARALLEL_GC");
    inputs.aggressiveReclaim = std::getenv("CORVANE_GC_AGGRESSIVE_RECLAIM");
    inputs.maxPauseMillis = std::getenv("CORVANE_GC_MAX_PAUSE_MILLIS");
    inputs.tmpDir = std::getenv("TMPDIR");
    inputs.tmpDirIsDirectory = inputs.tmpDir != nullptr && OS::isDirectory(inputs.tmpDir);
    inputs.version = CORVANE_BUILD_VERSION;
    corvane::jvm::addVmHooks(inputs);
    inputs.stackSizeOption = computeStackSizeOpt();
}

// Which file gave which options, so that the user finds the line to mend.
void logOptionFiles(const corvane::jvm::OptionFiles& files) {
    for (const corvane::jvm::OptionFile* file : {&files.tree, &files.system, &files.user, &files.jvmArgs}) {
        if (file->lines.empty()) {
            continue;
        }
        std::string text = "Options from " + file->description + ":\n\t";
        for (const std::string& line : file->lines) {
            text.append(line).append("\n\t");
        }
        CORVANE_LOG(ERROR) << text;
    }
}

// False, with the reason logged under `logName`, when the install directory
// cannot hold a tree.
bool installDirUsable(const OS::InstallDirLookup& installDir, const char* logName) {
    const std::string problem = corvane::jvm::installDirProblem(installDir);
    if (!problem.empty()) {
        DumpLoggerBuilder(DumpLoggerBuilder::ERROR) << logName << problem;
        return false;
    }
    return true;
}

// The option list of a start, from its options files, the tree and the
// environment; false, with the reason logged, when the start can have none.
// These are steps of the VM start, and their lines carry `logName` (the
// function that runs them) as their function name.
bool assembleOptions(const corvane::jvm::OptionFiles& optionFiles, const corvane::jvm::TreeRecord& treeRecord,
                     const std::string& installDir, std::vector<OptionEntry>& entries, std::string& classPath,
                     const char* logName) {
    if (optionFiles.jvmArgs.refused) {
        DumpLoggerBuilder(DumpLoggerBuilder::ERROR) << logName << "Unable to open jvm args file: "
                                                    << optionFiles.jvmArgs.path;
        return false;
    }
    corvane::jvm::logOptionFileNotes(optionFiles);
    if (optionFiles.stopsTheStart()) {
        return false;
    }
    corvane::jvm::OptionInputs inputs;
    inputs.jvmArgsFileLines = optionFiles.jvmArgs.lines;
    inputs.treeOptionLines = optionFiles.tree.lines;
    inputs.systemOptionLines = optionFiles.system.lines;
    inputs.userOptionLines = optionFiles.user.lines;
    inputs.installDir = installDir;
    const std::string libDir = corvane::jvm::libDirFor(inputs.installDir);
    inputs.classPath = corvane::jvm::collectJarsFromManifest(libDir + "manifest-bootstrap.txt", libDir);
    DumpLoggerBuilder(DumpLoggerBuilder::DEBUG) << logName << "Using class path: "
                                                << corvane::jvm::string_replace(inputs.classPath,
                                                                                corvane::jvm::CLASSPATH_SEPARATOR,
                                                                                corvane::jvm::CLASSPATH_SEPARATOR_FOR_LOGS);
    collectTuningInputs(inputs);
    inputs.javaDefaultHeap = treeRecord.javaHeap;
    if (inputs.javaDefaultHeap) {
        DumpLoggerBuilder(DumpLoggerBuilder::INFO)
            << logName << "The tree's record asks for java's default heap limit: no -Xmx of the launcher's own";
    }
    inputs.runtimeFeature = treeRecord.runtimeFeature();
    for (const std::string& option : corvane::jvm::restatedDefaultsLeftOut(inputs.runtimeFeature)) {
        DumpLoggerBuilder(DumpLoggerBuilder::INFO)
            << logName << "Leaving out" << option << "for runtime" << treeRecord.runtimeVersion
            << "(the tree's record): it is the VM's default there, and setting it only makes the VM warn at start-up";
    }
    if (!corvane::jvm::takesAggressiveOptions(inputs.runtimeFeature)) {
        DumpLoggerBuilder(DumpLoggerBuilder::INFO)
            << logName << "The tree's runtime" << treeRecord.runtimeVersion << "is older than" << CONTRACT_JDK_MINIMUM
            << "(the tree's record): the lighter option set, without compact object headers";
    }
    entries = corvane::jvm::buildJvmOptionEntries(inputs);
    corvane::jvm::addDisplayScaleOptions(optionFiles, entries, logName);
    classPath = inputs.classPath;
    return true;
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

JavaVM* CorvaneJVMHost::startJVM(const corvane::jvm::OptionFiles& optionFiles,
                                 const corvane::jvm::TreeRecord& treeRecord) {
    // Looked up once for the check and the options; the library loader reads it itself.
    const OS::InstallDirLookup installDir = OS::lookUpApplicationInstallDir();
    if (!installDirUsable(installDir, __func__)) {
        return nullptr;
    }
    void* createSymbol = resolveJNICreateFunction();
    if (createSymbol == nullptr) {
        CORVANE_LOG(ERROR) << "Failed to locate exported function to start VM";
        return nullptr;
    }
    auto createJavaVM = reinterpret_cast<CreateJavaVMFunction>(createSymbol);

    std::vector<OptionEntry> entries;
    std::string classPath;
    if (!assembleOptions(optionFiles, treeRecord, installDir.path, entries, classPath, __func__)) {
        return nullptr;
    }
    corvane::jvm::useAppClassArchive(entries, installDir.path, classPath, treeRecord);
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
    corvane::jvm::beginVmCreation();
    const jint result = createJavaVM(&vm, reinterpret_cast<void**>(&env), &initArgs);
    creationOutput = corvane::jvm::endVmCreation(result == 0);
    if (result != 0) {
        logOptionFiles(optionFiles);
        CORVANE_LOG(ERROR) << "Error creating VM: code=" << static_cast<int>(result) << ". Exiting...\n";
        return nullptr;
    }
    freeOptionTexts(options);
    CORVANE_LOG(INFO) << "Java Virtual Machine is created!";
    return vm;
}

int CorvaneJVMHost::printJvmOptions(const corvane::jvm::OptionFiles& optionFiles,
                                    const corvane::jvm::TreeRecord& treeRecord) {
    const OS::InstallDirLookup installDir = OS::lookUpApplicationInstallDir();
    if (!installDirUsable(installDir, __func__)) {
        return JVM_OPTIONS_UNAVAILABLE;
    }
    std::vector<OptionEntry> entries;
    std::string classPath;
    if (!assembleOptions(optionFiles, treeRecord, installDir.path, entries, classPath, __func__)) {
        return JVM_OPTIONS_UNAVAILABLE;
    }
    std::string out;
    int printed = 0;
    for (const OptionEntry& entry : entries) {
        if (entry.extraInfo == nullptr) {
            out.append(entry.text).push_back('\0');
            ++printed;
        }
    }
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
        CORVANE_LOG(ERROR) << "Cannot write the JVM options to standard output";
        return JVM_OPTIONS_UNAVAILABLE;
    }
    CORVANE_LOG(INFO) << "Printed the JVM options:" << printed << "options";
    return 0;
}

void CorvaneJVMHost::restartWithoutRefusedLine(const corvane::jvm::OptionFiles& optionFiles, char** argv) {
    const corvane::jvm::RefusedLine refused = corvane::jvm::findRefusedOwnLine(optionFiles, creationOutput);
    if (refused.file == nullptr) {
        return;
    }
    CORVANE_LOG(WARNING) << "The runtime refused '" + refused.line + "' of " + refused.file->description +
                                "; starting again without that file";
    // The environment as it is, with what the second start leaves out.
    std::vector<std::string> variables;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string text = *variable;
        if (text.rfind(std::string(IGNORED_OPTIONS_FILE_ENV) + "=", 0) != 0 &&
            text.rfind(std::string(IGNORED_OPTIONS_LINE_ENV) + "=", 0) != 0) {
            variables.push_back(text);
        }
    }
    variables.push_back(std::string(IGNORED_OPTIONS_FILE_ENV) + "=" + refused.file->path);
    variables.push_back(std::string(IGNORED_OPTIONS_LINE_ENV) + "=" + refused.line);
    std::vector<char*> envp;
    envp.reserve(variables.size() + 1);
    for (std::string& variable : variables) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    ::execve("/proc/self/exe", argv, envp.data());
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the message is read at once
    CORVANE_LOG(ERROR) << std::string("Cannot start again without that file: ") + std::strerror(errno);
}
