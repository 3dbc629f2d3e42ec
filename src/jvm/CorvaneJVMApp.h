#pragma once

#include <jni.h>

class CorvaneJVMApp {
public:
    // Calls the application's static entry method with every process argument
    // and returns its result, or 103 to 108 for the launcher's own failures.
    static int callMainMethod(JavaVM* vm, int argc, char** argv);

    static JNIEnv* ourJniOnMainThread;
    static jclass ourCorvaneClazz;
};
