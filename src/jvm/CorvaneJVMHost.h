#pragma once

#include <string>

#include <jni.h>

#include "jvm/OptionFiles.h"
#include "jvm/TreeRecord.h"

class CorvaneJVMHost {
public:
    // The address of JNI_CreateJavaVM in the install tree's runtime, or null.
    static void* resolveJNICreateFunction();

    // Loads the runtime, builds the option list from the start's options files
    // and creates the VM on the calling thread. Returns null (with the reason
    // logged) when no VM was created; ends the process itself when the
    // bootstrap manifest is unusable.
    static JavaVM* startJVM(const corvane::jvm::OptionFiles& optionFiles, const corvane::jvm::TreeRecord& treeRecord);

    // For the shipping tools: writes the option list a start would hand the
    // VM to standard output, each option followed by a NUL byte, without the
    // hook entries and the per-user application archive, and without loading
    // the runtime. Returns the exit status: 0, or 53 when there is no list (as
    // a start without a VM); a bootstrap manifest problem ends the process.
    static int printJvmOptions(const corvane::jvm::OptionFiles& optionFiles, const corvane::jvm::TreeRecord& treeRecord);

    // After startJVM failed: when the VM's refusal names a line of the system's
    // or the user's options file, runs this program again with the same
    // arguments and that file left out (a process creates one VM at most), and
    // does not return. Returns when no such line is named or the exec fails.
    static void restartWithoutRefusedLine(const corvane::jvm::OptionFiles& optionFiles, char** argv);
};

// The environment through which a start run again learns what to leave out.
constexpr char IGNORED_OPTIONS_FILE_ENV[] = "CORVANE_IGNORED_OPTIONS_FILE";
constexpr char IGNORED_OPTIONS_LINE_ENV[] = "CORVANE_IGNORED_OPTIONS_LINE";
