#include "jvm/CorvaneJVM.h"

#include "log/DumpLoggerBuilder.h"

bool checkFailureAndLog(JNIEnv* env) {
    jthrowable exception = env->ExceptionOccurred();
    if (exception == nullptr) {
        return false;
    }
    // JNI allows no class lookups or calls while an exception is pending, so
    // take it off the thread first and put it back where it cannot be printed.
    env->ExceptionClear();
    jclass throwableClass = env->FindClass("java/lang/Throwable");
    if (throwableClass == nullptr) {
        env->ExceptionClear();
        CORVANE_LOG(ERROR) << "Failed to find Throwable class";
        env->Throw(exception);
        return true;
    }
    jmethodID printStackTrace = env->GetMethodID(throwableClass, "printStackTrace", "()V");
    if (printStackTrace == nullptr) {
        env->ExceptionClear();
        CORVANE_LOG(ERROR) << "Failed to find Throwable#printStackTrace class";
        env->DeleteLocalRef(throwableClass);
        env->Throw(exception);
        return true;
    }
    env->CallVoidMethod(exception, printStackTrace);
    env->DeleteLocalRef(throwableClass);
    env->ExceptionClear();
    return true;
}
