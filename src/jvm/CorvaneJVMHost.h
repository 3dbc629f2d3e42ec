#pragma once

#include <string>

#include <jni.h>

#include "os/OSHelper.h"

class CorvaneJVMHost {
public:
    // The address of JNI_CreateJavaVM in the install tree's runtime, or null.
    static void* resolveJNICreateFunction();

    // The tree's record as the start reads it, once: lib/corvane-tree.txt below
    // the install directory (absent when the directory is unknown).
    static OS::FileText readTreeRecord(const std::string& installDir);

    // Loads the runtime, builds the option list and creates the VM on the
    // calling thread. Returns null (with the reason logged) when no VM was
    // created; ends the process itself when the bootstrap manifest is unusable.
    static JavaVM* startJVM(std::string jvmArgsPath, const OS::FileText& treeRecord);
};
