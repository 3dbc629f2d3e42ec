#pragma once

#include <jni.h>

// When a Java exception is pending: prints its stack trace on the Java side's
// standard error, clears it and returns true. False when none is pending.
bool checkFailureAndLog(JNIEnv* env);
