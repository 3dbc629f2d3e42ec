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
};
