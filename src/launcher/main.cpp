#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <malloc.h>
#include <pthread.h>
#include <unistd.h>

#include "BuildVersion.h"
#include "Contract.h"
#include "jvm/CorvaneJVMApp.h"
#include "jvm/CorvaneJVMHost.h"
#include "jvm/Splash.h"
#include "jvm/WorkingDir.h"
#include "launcher/PidText.h"
#include "launcher/SingleInstance.h"
#include "launcher/WaitForPid.h"
#include "log/CrashReports.h"
#include "log/DumbLogger.h"
#include "log/DumpLoggerBuilder.h"
#include "log/FatalDialog.h"
#include "os/OSHelper.h"
#include "os/ProcessSetup.h"

[[noreturn]] void dummyMainLoop();

namespace {

using ArgumentList = std::vector<std::string_view>;

constexpr int WAIT_FOR_PID_TIMEOUT_MS = 20000;
constexpr int JVM_START_FAILED = 53;
// The JVM thread's stack, whatever RLIMIT_STACK says: the VM is created on this
// thread. The size it gets under the usual 8 MiB limit, and well above the
// 1 MiB that java gives the thread it creates its VM on.
constexpr std::size_t JVM_THREAD_STACK_BYTES = std::size_t{8} * 1024 * 1024;
const std::string_view JVM_ARGS_OPTION = CONTRACT_FLAG_JVM_ARGS;
// For the shipping tools: print the JVM options a start would use, and end.
const std::string_view PRINT_JVM_OPTIONS = CONTRACT_FLAG_PRINT_JVM_OPTIONS;

int getCommandLineWaitForPid(const ArgumentList& arguments) {
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] != CONTRACT_FLAG_WAIT_FOR_PID) {
            continue;
        }
        if (i + 1 >= arguments.size()) {
            return 0;
        }
        const corvane::launcher::PidText pidText = corvane::launcher::parsePidText(arguments[i + 1].data());
        // Waiting for itself would only lose 20 s, and with a kill flag end the launcher.
        const std::string ignoredBecause =
            pidText.pid != 0 && pidText.pid == OSHelper::getPid() ? "it is the launcher's own pid"
                                                                  : pidText.ignoredBecause;
        if (!ignoredBecause.empty()) {
            CORVANE_LOG(INFO) << "Ignoring --wait-for-pid value '" + std::string(arguments[i + 1]) +
                                     "': " + ignoredBecause + "; not waiting";
            return 0;
        }
        return pidText.pid;
    }
    return 0;
}

bool hasArgument(const ArgumentList& arguments, std::string_view wanted) {
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == wanted) {
            return true;
        }
    }
    return false;
}

bool isInstallMode(const ArgumentList& arguments) {
    return hasArgument(arguments, CONTRACT_FLAG_INSTALL);
}

bool isKillOnTimeoutMode(const ArgumentList& arguments) {
    return hasArgument(arguments, CONTRACT_FLAG_KILL_ON_TIMEOUT);
}

// The application's name for the person: the record's, else the install folder's.
std::string applicationName(const std::string& installDir, const corvane::jvm::TreeRecord& record) {
    if (record.hasApplicationName()) {
        return record.name;
    }
    const std::string folder = installDir.substr(installDir.find_last_of('/') + 1);
    return folder.empty() ? "The application" : folder;
}

// The value of `name` in the environment, which is removed: it is for this
// process, not for the application's children. Before any other thread exists.
std::string takeEnvironment(const char* name) {
    const char* value = std::getenv(name);  // NOLINT(concurrency-mt-unsafe): no other thread exists yet
    std::string text = value != nullptr ? value : "";
    ::unsetenv(name);  // NOLINT(concurrency-mt-unsafe): as above
    return text;
}

// What the JVM thread reports back to the main thread, read after the join.
struct LaunchState {
    std::atomic<int> exitCode;
    std::atomic<bool> exitRequested;
};

// The JVM thread's closure: it borrows everything from run's frame, which
// outlives the thread.
struct JvmThreadBody {
    const corvane::jvm::OptionFiles& optionFiles;
    const corvane::jvm::TreeRecord& treeRecord;
    int argc;
    char** const& argv;
    std::atomic<int>& exitCode;
    std::atomic<bool>& exitRequested;
    bool secondAttempt;

    void operator()() const {
        JavaVM* vm = CorvaneJVMHost::startJVM(optionFiles, treeRecord);
        if (vm == nullptr) {
            if (!secondAttempt) {
                CorvaneJVMHost::restartWithoutRefusedLine(optionFiles, argv);
            }
            reportFatalAndExit("Failed to start JVM", JVM_START_FAILED, true);
        }
        CORVANE_LOG(INFO) << "JVM calling main";
        const int result = CorvaneJVMApp::callMainMethod(vm, argc, argv);
        CORVANE_LOG(INFO) << "JVM main ended";
        if (result > 1) {
            reportFatalAndExit("Failed to initialize Corvane JVM application: " + std::to_string(result), result,
                               true);
        }
        if (result == 0) {
            CORVANE_LOG(INFO) << "JVM started successfully";
            exitCode.store(0);
        } else if (result == 1) {
            CORVANE_LOG(INFO) << "JVM exit after startup is set, exiting";
            exitCode.store(0);
            exitRequested.store(true);
        }
        // A native thread must leave the VM before it ends; otherwise the VM
        // keeps it registered and waits for it at every later System.exit.
        vm->DetachCurrentThread();
    }
};

void* runJvmThread(void* body) {
    (*static_cast<const JvmThreadBody*>(body))();
    return nullptr;
}

// Starts the JVM thread with a stack of its own size; an error number, or 0.
int startJvmThread(pthread_t& thread, const JvmThreadBody& body) {
    pthread_attr_t attributes;
    int result = pthread_attr_init(&attributes);
    if (result != 0) {
        return result;
    }
    result = pthread_attr_setstacksize(&attributes, JVM_THREAD_STACK_BYTES);
    if (result == 0) {
        result = pthread_create(&thread, &attributes, runJvmThread, const_cast<JvmThreadBody*>(&body));
    }
    pthread_attr_destroy(&attributes);
    return result;
}

int run(int argc, char** argv) {
    // Before anything opens a file or writes: closed standard descriptors
    // would otherwise be taken by the log or the runtime's files.
    OS::openClosedStandardDescriptors();
    OS::ignoreWriteSignals();
    mallopt(M_ARENA_MAX, 1);  // NOLINT(concurrency-mt-unsafe): first call of run, no other thread exists yet

    ArgumentList arguments;
    arguments.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }

    bool consoleLogging = false;
    std::string jvmArgsPath;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        if (argument == CONTRACT_FLAG_VERSION) {
            // "--version" ends with status 0 whether or not the line could be written.
            (void)std::fputs("Corvane " CORVANE_BUILD_VERSION "\n", stdout);
            (void)std::fflush(stdout);
            return 0;
        }
        if (argument == CONTRACT_FLAG_LOG_TO_STDOUT) {
            consoleLogging = true;
        }
        if (argument.substr(0, JVM_ARGS_OPTION.size()) == JVM_ARGS_OPTION) {
            jvmArgsPath = std::string(argument.substr(JVM_ARGS_OPTION.size()));
        }
    }

    // The tree's record, read once and before the log: it names the application,
    // whose log is kept in a folder of its own, says whether the tree runs once
    // per user and names the application's own options files.
    const std::string installDir = OS::getApplicationInstallDir();
    const corvane::jvm::TreeRecord treeRecord = corvane::jvm::readTreeRecord(installDir);
    initialize_logging(consoleLogging, treeRecord.hasApplicationName() ? treeRecord.name : std::string());

    std::string argumentText;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        argumentText.append(arguments[i]);
        argumentText.push_back(' ');
    }
    CORVANE_LOG(INFO) << "Program arguments: " << argumentText;

    if (hasArgument(arguments, PRINT_JVM_OPTIONS)) {
        // Before any wait or hand-over: the tools ask this of a tree, not of an instance.
        return CorvaneJVMHost::printJvmOptions(corvane::jvm::readOptionFiles(installDir, treeRecord, jvmArgsPath),
                                               treeRecord);
    }

    const int pid = getCommandLineWaitForPid(arguments);
    if (pid != 0) {
        const bool killOnTimeout = isInstallMode(arguments) || isKillOnTimeoutMode(arguments);
        corvane::launcher::waitForPid(pid, WAIT_FOR_PID_TIMEOUT_MS, killOnTimeout);
    }
    // Before the runtime is loaded: a start that the running instance takes
    // over costs no VM. A --wait-for-pid start replaces that instance instead.
    if (corvane::launcher::settleInstance(treeRecord, arguments, hasArgument(arguments, CONTRACT_FLAG_WAIT_FOR_PID)) ==
        corvane::launcher::InstanceOutcome::HANDED_OVER) {
        return 0;
    }
    const std::string name = applicationName(installDir, treeRecord);
    enableFatalNotice(name);
    if (treeRecord.hasApplicationName()) {
        // Only in the application's own folder: a shared one holds other applications' reports.
        corvane::log::tellOfEarlierCrash(getLogsHome(), name);
    }
    // Set when this is a start run again without a line the runtime refused.
    const std::string ignoredOptionsFile = takeEnvironment(IGNORED_OPTIONS_FILE_ENV);
    const std::string ignoredOptionsLine = takeEnvironment(IGNORED_OPTIONS_LINE_ENV);
    if (!ignoredOptionsFile.empty()) {
        tellThePerson(name + " started without your options file",
                      "The Java runtime refused the line '" + ignoredOptionsLine + "' of " + ignoredOptionsFile +
                          ", so this start leaves that file out. Mend or remove the line.");
    }
    // Read once, for the splash and the VM alike.
    const corvane::jvm::OptionFiles optionFiles =
        corvane::jvm::readOptionFiles(installDir, treeRecord, jvmArgsPath, ignoredOptionsFile);
    // As soon as the start is this process's own: java shows its splash before it
    // loads the runtime, and so does the launcher.
    corvane::jvm::showSplash(installDir, treeRecord, optionFiles);
    // After the hand-over, which passes on the folder the user started in.
    corvane::jvm::enterWorkingDir(installDir, treeRecord);

    LaunchState state{{255}, {false}};
    const bool secondAttempt = !ignoredOptionsFile.empty();
    const JvmThreadBody body{optionFiles, treeRecord, argc, argv, state.exitCode, state.exitRequested, secondAttempt};
    pthread_t jvmThread;
    const int created = startJvmThread(jvmThread, body);
    if (created != 0) {
        // NOLINTNEXTLINE(concurrency-mt-unsafe): the JVM thread was not created, no other thread exists
        reportFatalAndExit(std::string("Failed to start JVM: cannot create the JVM thread: ") + std::strerror(created),
                           JVM_START_FAILED, true);
    }
    pthread_join(jvmThread, nullptr);

    if (state.exitCode.load() != 0) {
        state.exitRequested.store(true);
    }
    if (state.exitRequested.load()) {
        return state.exitCode.load();
    }
    CORVANE_LOG(INFO) << "JVM Start completed!";
    CORVANE_LOG(INFO) << "Entering dummy main loop";
    dummyMainLoop();
}

}  // namespace

void dummyMainLoop() {
    for (;;) {
        sleep(1000000);  // NOLINT(concurrency-mt-unsafe): the launcher installs no SIGCHLD handler
    }
}

int main(int argc, char** argv) {
    return run(argc, argv);
}
