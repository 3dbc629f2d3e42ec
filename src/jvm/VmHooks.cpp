// The VM's output, exit and abort hooks, and standard error during the VM's creation.
#include "jvm/VmHooks.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include <jni.h>
#include <unistd.h>

#include "log/DumpLoggerBuilder.h"
#include "log/LogFile.h"
#include "os/StandardError.h"

namespace corvane::jvm {

namespace {

// Standard error while the VM is created. Written by beginVmCreation before
// the flag is set; read only by whoever clears the flag, which may be a hook on
// a VM thread when the VM ends the process inside the creation.
OS::StandardErrorCapture ourCreationCapture;
std::atomic<bool> ourCapturing{false};

// What the VM wrote to standard error while it was created, one log line per
// line of text, with standard error back where it was. A VM that failed to
// start has said why there (an option it refuses): that stays on standard
// error as well. Runs once per capture; returns the text.
std::string vmStandardError(bool failed) {
    if (!ourCapturing.exchange(false)) {
        return std::string();
    }
    std::string text = OS::releaseStandardError(ourCreationCapture);
    if (failed) {
        (void)corvane::log::writeAll(STDERR_FILENO, text);
    }
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (end > start) {
            CORVANE_LOG(INFO) << "JVM: " << text.substr(start, end - start);
        }
        start = end + 1;
    }
    return text;
}

// The VM's console output goes to the native log, one line per call. What the
// VM writes to a file of its own (-Xlog:...:file=<path>) goes to that file, as
// it would without the hook: the VM hands all its output to this one hook.
// While the VM is created, what it sends to standard error goes there, into
// memory, where it joins the rest of a warning that HotSpot writes past the hook.
jint jvm_vprintf(FILE* stream, const char* format, va_list args) {
    if (stream != nullptr && stream != stdout && (stream != stderr || ourCapturing.load())) {
        return std::vfprintf(stream, format, args);
    }
    char buffer[1024];
    std::memset(buffer, 0, sizeof buffer);
    const int length = std::vsnprintf(buffer, 1020, format, args);
    CORVANE_LOG(INFO) << "JVM: " << buffer;
    return length;
}

void jvm_exit(jint code) {
    (void)vmStandardError(code != 0);
    CORVANE_LOG(INFO) << "JVM: exit(" << static_cast<int>(code) << ")";
}

void jvm_abort() {
    (void)vmStandardError(true);
    CORVANE_LOG(INFO) << "JVM: abort()";
}

}  // namespace

void addVmHooks(OptionInputs& inputs) {
    inputs.vprintfHook = reinterpret_cast<void*>(&jvm_vprintf);
    inputs.exitHook = reinterpret_cast<void*>(&jvm_exit);
    inputs.abortHook = reinterpret_cast<void*>(&jvm_abort);
}

void beginVmCreation() {
    ourCreationCapture = OS::captureStandardError();
    if (!ourCreationCapture.problem.empty()) {
        CORVANE_LOG(WARNING) << "The VM's warnings while it is created may reach the terminal:"
                             << ourCreationCapture.problem;
        return;
    }
    ourCapturing.store(true);
}

std::string endVmCreation(bool created) {
    return vmStandardError(!created);
}

}  // namespace corvane::jvm
