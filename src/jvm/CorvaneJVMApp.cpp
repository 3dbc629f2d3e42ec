#include "jvm/CorvaneJVMApp.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "Contract.h"
#include "jvm/CorvaneJVM.h"
#include "jvm/ModifiedUtf8.h"
#include "log/DumpLoggerBuilder.h"

JNIEnv* CorvaneJVMApp::ourJniOnMainThread = nullptr;
jclass CorvaneJVMApp::ourCorvaneClazz = nullptr;

namespace {

// The contract's entry class in JNI's form (slashes for dots).
std::string entryClassPath() {
    std::string path = CONTRACT_ENTRY_CLASS;
    std::replace(path.begin(), path.end(), '.', '/');
    return path;
}
const char* const ENTRY_METHOD = CONTRACT_ENTRY_METHOD;
const char ENTRY_METHOD_SIGNATURE[] = "([Ljava/lang/String;)I";

constexpr int ATTACH_FAILED = 103;
constexpr int CLASS_NOT_FOUND_WITH_EXCEPTION = 104;
constexpr int CLASS_NOT_FOUND = 105;
constexpr int METHOD_NOT_FOUND = 106;
constexpr int METHOD_RETURNED_TWO = 107;
constexpr int METHOD_FAILED = 108;

// The String[] of all process arguments, each converted to modified UTF-8 so
// that Java sees the same text. Null (with the exception printed and cleared)
// when any step fails.
jobjectArray buildArgumentArray(JNIEnv* env, int argc, char** argv) {
    jclass stringClass = env->FindClass("java/lang/String");
    if (stringClass == nullptr) {
        return nullptr;
    }
    jobjectArray array = env->NewObjectArray(argc, stringClass, nullptr);
    env->DeleteLocalRef(stringClass);
    if (array == nullptr) {
        return nullptr;
    }
    for (int i = 0; i < argc; ++i) {
        const std::string text = corvane::jvm::toModifiedUtf8(argv[i], std::strlen(argv[i]));
        jstring argument = env->NewStringUTF(text.c_str());
        if (argument == nullptr) {
            return nullptr;
        }
        env->SetObjectArrayElement(array, i, argument);
        env->DeleteLocalRef(argument);
        if (env->ExceptionCheck() != JNI_FALSE) {
            return nullptr;
        }
    }
    return array;
}

}  // namespace

int CorvaneJVMApp::callMainMethod(JavaVM* vm, int argc, char** argv) {
    JNIEnv* env = nullptr;
    if (vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) != JNI_OK) {
        CORVANE_LOG(ERROR) << "Failed to attach native thread to JVM";
        return ATTACH_FAILED;
    }

    const std::string entryClassName = entryClassPath();
    const std::string entryLogName = entryClassName.substr(entryClassName.rfind('/') + 1);
    jclass entryClass = env->FindClass(entryClassName.c_str());
    if (entryClass == nullptr) {
        CORVANE_LOG(ERROR) << "Failed to find " << entryLogName << " class";
        if (checkFailureAndLog(env)) {
            CORVANE_LOG(ERROR) << "Finding " << entryLogName << " class failed with exception!";
            return CLASS_NOT_FOUND_WITH_EXCEPTION;
        }
        return CLASS_NOT_FOUND;
    }

    jmethodID entryMethod = env->GetStaticMethodID(entryClass, ENTRY_METHOD, ENTRY_METHOD_SIGNATURE);
    if (entryMethod == nullptr) {
        CORVANE_LOG(ERROR) << "Failed to find method '" << ENTRY_METHOD << "' on " << entryLogName;
        return METHOD_NOT_FOUND;
    }

    jobjectArray arguments = buildArgumentArray(env, argc, argv);
    if (arguments == nullptr) {
        checkFailureAndLog(env);
        CORVANE_LOG(ERROR) << "Failed to pass the program arguments to '" << ENTRY_METHOD << "' on "
                           << entryLogName;
        return METHOD_FAILED;
    }

    const jint result = env->CallStaticIntMethod(entryClass, entryMethod, arguments);
    if (result == 2) {
        CORVANE_LOG(ERROR) << "Failed to invoke method '" << ENTRY_METHOD << "' on the " << entryLogName;
        return METHOD_RETURNED_TWO;
    }
    if (checkFailureAndLog(env)) {
        CORVANE_LOG(ERROR) << "Method '" << ENTRY_METHOD << "' failed with exception!";
        return METHOD_FAILED;
    }
    ourJniOnMainThread = env;
    ourCorvaneClazz = entryClass;
    return static_cast<int>(result);
}
