// Every text that steward shows a user or writes to the event log stands here, so that the
// wording is reviewed in one place and kept exact: scripts and people search for these lines.
// They are macros because several are printf formats, which the compiler checks only when the
// format is a string literal.
#ifndef STEWARD_CORE_MESSAGES_H
#define STEWARD_CORE_MESSAGES_H

// Command line.
#define MSG_TOO_FEW_ARGUMENTS "\nToo few arguments, provide service name!\n"
#define MSG_UNRECOGNIZED_OPTION "\nUnrecognized option: %s\n"
#define MSG_SERVICE_NAME_TOO_LONG \
  "\nService name too long: %u characters, at most %u are allowed. Nothing was done.\n"
#define MSG_MODE_NOT_AVAILABLE "\nThe %s mode is not available in this build of steward yet.\n"

// Service mode start-up.
#define MSG_ONLY_SERVICE_NAME "\nOnly service name in command line..."
#define MSG_CALLING_DISPATCHER "\nCalling StartServiceCtrlDispatcher...please wait.\n"
#define MSG_DISPATCHER_FAILED "StartServiceControlDispatcher failed!"
#define MSG_SERVICE_MODE_NOT_AVAILABLE "Service mode is not available in this build of steward yet."

// Service status reports.
#define MSG_SET_SERVICE_STATUS_FAILED "SetServiceStatus"

// Console runner.
#define MSG_RUNNING "Running %s.\n"

// Finding the JVM library.
#define MSG_NO_JRE_REGISTRY \
  "Cannot locate JavaSoft or IBM registry information. Is the JRE properly installed?"
#define MSG_NO_JRE_VERSION_REGISTRY \
  "Cannot locate JRE %s registry information. Is the JRE properly installed?"
#define MSG_JVM_LIBRARY_TOO_LONG \
  "The JVM library path given with jvmdll= is too long: %u characters, at most %u are allowed."

// Launching the Java application.
#define MSG_NO_MAIN_CLASS "No main class given: add mainclass=CLASS to the parameters."
#define MSG_CANNOT_CHANGE_DIRECTORY "Unable to change working directory."
#define MSG_ERROR_LOADING "Error loading: %s\n"
#define MSG_NO_JNI_INTERFACES "Cannot find JNI interfaces in: %s\n"
#define MSG_TOO_MANY_JAVA_OPTIONS "Max. number of Java args (%d) exceeded."
#define MSG_CANNOT_CREATE_VM "Cannot create Java VM.\n"
#define MSG_NO_MAIN_CLASS_FOUND "JNI error finding main class."
#define MSG_NO_MAIN_METHOD "JNI error finding main(String[]) method."
#define MSG_NO_ARGUMENT_ARRAY "JNI error instantiating argument array."
#define MSG_NO_ARGUMENT "JNI error instantiating argument."
#define MSG_CANNOT_ASSIGN_ARGUMENT "JNI error assigning argument."
#define MSG_NO_EMPTY_ARGUMENT_ARRAY "JNI error instantiating empty argument array."
#define MSG_MAIN_THREW "Could not invoke main class"
#define MSG_CANNOT_START_LAUNCHER "Cannot start the Java launcher thread."

#endif  // STEWARD_CORE_MESSAGES_H
