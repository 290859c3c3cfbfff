// The Java host's process-wide state for one run, the one routine that ends a run, and the
// console control handler that decides which console events end it.
#ifndef STEWARD_HOST_HOST_STATE_H
#define STEWARD_HOST_HOST_STATE_H

#include <jni.h>

#include <mutex>
#include <string>
#include <vector>

#include "params/parameters.h"
#include "platform/win32.h"

// The three settings of a run. Each is null or points into the launch parameter entry that set
// it, just past its keyword; the entries outlive the run.
struct HostSettings {
  const char* workingDirectory = nullptr;
  const char* mainClass = nullptr;
  const char* jvmLibrary = nullptr;
};

extern StringList javaOptions;
extern StringList programArguments;
extern HostSettings hostSettings;
// Manual-reset, signalled once by StopHost; the wait on it is what ends a run.
extern HANDLE stopEvent;
extern JavaVM* javaVM;
extern JNIEnv* jniEnv;

// Guards the lists, the settings, hostStopped and stopEvent against a stop that arrives while
// the run is being set up or the launcher thread takes its copy of them.
extern std::mutex hostMutex;
// Set by StopHost: the run has ended, and a launcher thread that has not started yet must not.
extern bool hostStopped;

// Ends the run: releases the two lists, forgets the settings (the entries they point into may be
// released once the run has returned) and signals stopEvent if it is open. It neither stops nor
// destroys the VM and waits for nothing. Safe to call more than once and from any thread.
void StopHost();

// Records that the Java application could not be launched, or that its main method ended with
// an exception, and ends the run, so that the run reports a failure instead of waiting with
// nothing inside.
void FailHost();

// True once FailHost has been called in this process.
bool HostFailed();

// The console control handler, installed right before the Java main method is called:
//   Ctrl+C, close, logoff   end the run in console mode; TRUE (ignored as a service)
//   shutdown                ends the run in both modes; TRUE
//   Ctrl+Break, others      FALSE: passed on to the handlers installed before (the JVM's)
BOOL WINAPI ConsoleCtrlHandler(DWORD eventType);

#endif  // STEWARD_HOST_HOST_STATE_H
