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

#endif  // STEWARD_CORE_MESSAGES_H
