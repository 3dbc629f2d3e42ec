/*
 * A stand-in libjvm.so for what a real Java runtime cannot be made to do. It
 * exports JNI_CreateJavaVM and fills only the JNI function-table entries that
 * the launcher uses; every other entry is null.
 *
 * Control knobs (environment variables, all optional):
 *   FAKEJVM_RECORD=<path>        append what the launcher handed over, one record
 *                                per line (format below)
 *   FAKEJVM_CREATE_RESULT=<int>  JNI_CreateJavaVM's result (default 0); non-zero
 *                                creates nothing
 *   FAKEJVM_HOOKS=1              during creation call the "vfprintf" hook twice
 *                                (a short line and a 2000-character one), the
 *                                "exit" hook with FAKEJVM_HOOK_EXIT_CODE (default 3)
 *                                and the "abort" hook; each hook returns here
 *   FAKEJVM_ATTACH_RESULT=<int>  AttachCurrentThread's result (default 0)
 *   FAKEJVM_FIND_ENTRY=ok|null|exception
 *                                the entry class lookup succeeds (default), returns
 *                                null with no exception, or null with one pending
 *   FAKEJVM_THROWABLE=ok|missing|nomethod
 *                                java/lang/Throwable is found with printStackTrace
 *                                (default), is not found, or lacks the method
 *   FAKEJVM_FAIL_AT=<step>       a step of building the argument array fails:
 *                                "stringclass", "array", "string:<i>" (null, with
 *                                an exception) or "store:<i>" (an exception)
 *   FAKEJVM_ENTRY_RESULT=<int>   what the entry method returns (default 1)
 *   FAKEJVM_ENTRY_THROWS=1       the entry method leaves an exception pending
 *   FAKEJVM_TIMES=<path>         append CLOCK_REALTIME stamps in microseconds,
 *                                "<label> <us>" one a line, labels "create-enter",
 *                                "create-leave", "entry-enter" and "entry-leave"
 *                                (for timing the launcher around the two calls)
 *
 * Record lines written to FAKEJVM_RECORD:
 *   create version=<hex> nOptions=<n> ignoreUnrecognized=<0|1>
 *   option <index> <hook|plain> <text, bytes outside 0x21..0x7e as \xHH>
 *   vprintf-returned <n>
 *   string <i> <bytes given to NewStringUTF, as above>
 *   entry-called <array length>
 *   printStackTrace
 *   detach
 *   violation <JNI function> called with an exception pending
 */
#include <jni.h>

#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static struct JNINativeInterface_ fakeFunctions;
static struct JNIInvokeInterface_ fakeInvoke;
static const struct JNINativeInterface_* fakeEnvPointer = &fakeFunctions;
static const struct JNIInvokeInterface_* fakeVmPointer = &fakeInvoke;

/* Distinct addresses stand for the few objects the launcher sees. */
static char entryClass, stringClass, throwableClass, pendingException, entryMethod, printMethod;
static char arrayObject, stringObjects[64];
static jthrowable pending;
static int arrayLength;

static const char* knob(const char* name, const char* fallback) {
    const char* value = getenv(name);
    return value != NULL ? value : fallback;
}

static int knobInt(const char* name, int fallback) {
    const char* value = getenv(name);
    return value != NULL ? atoi(value) : fallback;
}

static void record(const char* format, ...) {
    const char* path = getenv("FAKEJVM_RECORD");
    if (path == NULL) {
        return;
    }
    FILE* out = fopen(path, "a");
    if (out == NULL) {
        return;
    }
    va_list args;
    va_start(args, format);
    vfprintf(out, format, args);
    va_end(args);
    fputc('\n', out);
    fclose(out);
}

/* Opened at the first stamp and left open, so that later stamps cost one
 * write() each; -2 until then, -1 without the knob. */
static int timesFd = -2;

/* The clock is read first: opening the file and writing count as time spent
 * in the call that the stamp opens, or after the one it closes. */
static void stamp(const char* label) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    if (timesFd == -2) {
        const char* path = getenv("FAKEJVM_TIMES");
        timesFd = path != NULL ? open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644) : -1;
    }
    if (timesFd < 0) {
        return;
    }
    char line[64];
    int length = snprintf(line, sizeof line, "%s %lld\n", label,
                          (long long)now.tv_sec * 1000000LL + (long long)(now.tv_nsec / 1000));
    ssize_t written = write(timesFd, line, (size_t)length);
    (void)written;
}

/* The text with every byte outside 0x21..0x7e (and the backslash) as \xHH. */
static char* escaped(const char* text) {
    size_t length = strlen(text);
    char* out = malloc(length * 4 + 1);
    char* at = out;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = (unsigned char)text[i];
        if (c > 0x20 && c < 0x7f && c != '\\') {
            *at++ = (char)c;
        } else {
            at += sprintf(at, "\\x%02X", c);
        }
    }
    *at = '\0';
    return out;
}

static int failsAt(const char* step, int index) {
    const char* failAt = getenv("FAKEJVM_FAIL_AT");
    if (failAt == NULL) {
        return 0;
    }
    size_t length = strlen(step);
    if (strncmp(failAt, step, length) != 0) {
        return 0;
    }
    if (failAt[length] == '\0') {
        return index < 0;
    }
    return failAt[length] == ':' && atoi(failAt + length + 1) == index;
}

static void checkNothingPending(const char* function) {
    if (pending != NULL) {
        record("violation %s called with an exception pending", function);
    }
}

static jclass JNICALL fakeFindClass(JNIEnv* env, const char* name) {
    (void)env;
    checkNothingPending("FindClass");
    if (strcmp(name, "com/vellumbry/corvane/entry/CorvaneProcessEarlyEntry") == 0) {
        const char* how = knob("FAKEJVM_FIND_ENTRY", "ok");
        if (strcmp(how, "exception") == 0) {
            pending = (jthrowable)&pendingException;
        }
        return strcmp(how, "ok") == 0 ? (jclass)&entryClass : NULL;
    }
    if (strcmp(name, "java/lang/String") == 0) {
        if (failsAt("stringclass", -1)) {
            pending = (jthrowable)&pendingException;
            return NULL;
        }
        return (jclass)&stringClass;
    }
    if (strcmp(name, "java/lang/Throwable") == 0) {
        if (strcmp(knob("FAKEJVM_THROWABLE", "ok"), "missing") == 0) {
            pending = (jthrowable)&pendingException;
            return NULL;
        }
        return (jclass)&throwableClass;
    }
    return NULL;
}

static jmethodID JNICALL fakeGetStaticMethodID(JNIEnv* env, jclass clazz, const char* name, const char* signature) {
    (void)env;
    checkNothingPending("GetStaticMethodID");
    if (clazz == (jclass)&entryClass && strcmp(name, "startCorvane") == 0 &&
        strcmp(signature, "([Ljava/lang/String;)I") == 0) {
        return (jmethodID)&entryMethod;
    }
    return NULL;
}

static jmethodID JNICALL fakeGetMethodID(JNIEnv* env, jclass clazz, const char* name, const char* signature) {
    (void)env;
    checkNothingPending("GetMethodID");
    if (clazz == (jclass)&throwableClass && strcmp(name, "printStackTrace") == 0 && strcmp(signature, "()V") == 0 &&
        strcmp(knob("FAKEJVM_THROWABLE", "ok"), "nomethod") != 0) {
        return (jmethodID)&printMethod;
    }
    pending = (jthrowable)&pendingException;
    return NULL;
}

static jobjectArray JNICALL fakeNewObjectArray(JNIEnv* env, jsize length, jclass clazz, jobject initial) {
    (void)env;
    (void)initial;
    checkNothingPending("NewObjectArray");
    if (clazz != (jclass)&stringClass || failsAt("array", -1)) {
        pending = (jthrowable)&pendingException;
        return NULL;
    }
    arrayLength = length;
    return (jobjectArray)&arrayObject;
}

static jstring JNICALL fakeNewStringUTF(JNIEnv* env, const char* bytes) {
    (void)env;
    checkNothingPending("NewStringUTF");
    static int made = 0;
    int index = made++;
    if (failsAt("string", index)) {
        pending = (jthrowable)&pendingException;
        return NULL;
    }
    char* text = escaped(bytes);
    record("string %d %s", index, text);
    free(text);
    return (jstring)&stringObjects[index % 64];
}

static void JNICALL fakeSetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index, jobject value) {
    (void)env;
    checkNothingPending("SetObjectArrayElement");
    if (array != (jobjectArray)&arrayObject || value == NULL || index < 0 || index >= arrayLength ||
        failsAt("store", index)) {
        pending = (jthrowable)&pendingException;
    }
}

static jint callEntry(jclass clazz, jmethodID method, va_list args) {
    checkNothingPending("CallStaticIntMethodV");
    jobject array = va_arg(args, jobject);
    if (clazz != (jclass)&entryClass || method != (jmethodID)&entryMethod || array != (jobject)&arrayObject) {
        record("violation CallStaticIntMethodV called with unknown class, method or argument");
    }
    record("entry-called %d", arrayLength);
    if (knobInt("FAKEJVM_ENTRY_THROWS", 0) != 0) {
        pending = (jthrowable)&pendingException;
    }
    return knobInt("FAKEJVM_ENTRY_RESULT", 1);
}

static jint JNICALL fakeCallStaticIntMethodV(JNIEnv* env, jclass clazz, jmethodID method, va_list args) {
    (void)env;
    stamp("entry-enter");
    jint result = callEntry(clazz, method, args);
    stamp("entry-leave");
    return result;
}

static void JNICALL fakeCallVoidMethodV(JNIEnv* env, jobject object, jmethodID method, va_list args) {
    (void)env;
    (void)args;
    checkNothingPending("CallVoidMethodV");
    if (object == (jobject)&pendingException && method == (jmethodID)&printMethod) {
        record("printStackTrace");
        fputs("fake.PendingException: printed by the fake VM\n", stderr);
    }
}

static jthrowable JNICALL fakeExceptionOccurred(JNIEnv* env) {
    (void)env;
    return pending;
}

static jboolean JNICALL fakeExceptionCheck(JNIEnv* env) {
    (void)env;
    return pending != NULL ? JNI_TRUE : JNI_FALSE;
}

static void JNICALL fakeExceptionClear(JNIEnv* env) {
    (void)env;
    pending = NULL;
}

static jint JNICALL fakeThrow(JNIEnv* env, jthrowable throwable) {
    (void)env;
    pending = throwable;
    return 0;
}

static void JNICALL fakeDeleteLocalRef(JNIEnv* env, jobject object) {
    (void)env;
    (void)object;
}

static jint JNICALL fakeAttachCurrentThread(JavaVM* vm, void** penv, void* args) {
    (void)vm;
    (void)args;
    int result = knobInt("FAKEJVM_ATTACH_RESULT", 0);
    if (result == 0) {
        *penv = (void*)&fakeEnvPointer;
    }
    return result;
}

static jint JNICALL fakeDetachCurrentThread(JavaVM* vm) {
    (void)vm;
    record("detach");
    return 0;
}

typedef jint (*VprintfHook)(FILE*, const char*, va_list);

/* A va_list is only to be had through a variadic call. */
static jint callVprintf(VprintfHook hook, const char* format, ...) {
    va_list args;
    va_start(args, format);
    jint result = hook(stdout, format, args);
    va_end(args);
    return result;
}

static void callHooks(const JavaVMInitArgs* args) {
    for (jint i = 0; i < args->nOptions; ++i) {
        const JavaVMOption* option = &args->options[i];
        if (strcmp(option->optionString, "vfprintf") == 0) {
            VprintfHook hook = (VprintfHook)option->extraInfo;
            char longText[2001];
            memset(longText, 'x', 2000);
            longText[2000] = '\0';
            record("vprintf-returned %d", (int)callVprintf(hook, "fake vm says %s %d\n", "hello", 42));
            record("vprintf-returned %d", (int)callVprintf(hook, "%s", longText));
        } else if (strcmp(option->optionString, "exit") == 0) {
            ((void (*)(jint))option->extraInfo)(knobInt("FAKEJVM_HOOK_EXIT_CODE", 3));
        } else if (strcmp(option->optionString, "abort") == 0) {
            ((void (*)(void))option->extraInfo)();
        }
    }
}

static jint createVm(JavaVM** pvm, void** penv, void* initArgs) {
    const JavaVMInitArgs* args = (const JavaVMInitArgs*)initArgs;
    record("create version=0x%x nOptions=%d ignoreUnrecognized=%d", (unsigned)args->version, (int)args->nOptions,
           (int)args->ignoreUnrecognized);
    for (jint i = 0; i < args->nOptions; ++i) {
        const JavaVMOption* option = &args->options[i];
        if (option->optionString == NULL) {
            record("violation null option string at %d", (int)i);
            continue;
        }
        char* text = escaped(option->optionString);
        record("option %d %s %s", (int)i, option->extraInfo != NULL ? "hook" : "plain", text);
        free(text);
    }
    if (knobInt("FAKEJVM_HOOKS", 0) != 0) {
        callHooks(args);
    }
    int result = knobInt("FAKEJVM_CREATE_RESULT", 0);
    if (result != 0) {
        return result;
    }
    fakeFunctions.FindClass = fakeFindClass;
    fakeFunctions.GetStaticMethodID = fakeGetStaticMethodID;
    fakeFunctions.GetMethodID = fakeGetMethodID;
    fakeFunctions.NewObjectArray = fakeNewObjectArray;
    fakeFunctions.NewStringUTF = fakeNewStringUTF;
    fakeFunctions.SetObjectArrayElement = fakeSetObjectArrayElement;
    fakeFunctions.CallStaticIntMethodV = fakeCallStaticIntMethodV;
    fakeFunctions.CallVoidMethodV = fakeCallVoidMethodV;
    fakeFunctions.ExceptionOccurred = fakeExceptionOccurred;
    fakeFunctions.ExceptionCheck = fakeExceptionCheck;
    fakeFunctions.ExceptionClear = fakeExceptionClear;
    fakeFunctions.Throw = fakeThrow;
    fakeFunctions.DeleteLocalRef = fakeDeleteLocalRef;
    fakeInvoke.AttachCurrentThread = fakeAttachCurrentThread;
    fakeInvoke.DetachCurrentThread = fakeDetachCurrentThread;
    *pvm = (JavaVM*)&fakeVmPointer;
    *penv = (void*)&fakeEnvPointer;
    return 0;
}

JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** pvm, void** penv, void* initArgs) {
    stamp("create-enter");
    jint result = createVm(pvm, penv, initArgs);
    stamp("create-leave");
    return result;
}
