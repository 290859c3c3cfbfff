// The launcher thread: turns the host state into a running Java application. It finds and loads
// the JVM library, creates the VM inside this process, finds the main class and its
// main(String[]) method, builds the argument array, installs the console control handler and
// calls main; when main returns it destroys the VM. A launch that fails, or a main that ends with
// an exception, is logged and ends the run as a failure.
#ifndef STEWARD_HOST_LAUNCHER_H
#define STEWARD_HOST_LAUNCHER_H

#include <jni.h>

// The most JVM options a launch accepts.
constexpr int kMaxJavaOptions = 20;

// The body of the launcher thread, in the runtime library's thread-start form; the argument is
// unused.
void JavaLauncherThread(void* unused);

// True when a Java exception is pending, after logging message and clearing the exception.
bool CheckJavaException(JNIEnv* env, const char* message);

// True when value is null, after logging message.
bool CheckJavaResult(const void* value, const char* message);

#endif  // STEWARD_HOST_LAUNCHER_H
