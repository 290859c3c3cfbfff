// Sorting one run's launch parameters into what the Java host needs: options for the Java
// virtual machine, arguments for the Java main method, and three settings.
//
//   entry begins with            compared                  goes to
//   -D  /D  -X  /X               2 characters, exact case   JVM options (unchanged)
//   wrkdir=                      case-insensitive           the working directory
//   mainclass=                   case-insensitive           the main class
//   jvmdll=                      case-insensitive           the JVM library
//   anything else                                           program arguments
#ifndef STEWARD_PARAMS_CLASSIFY_H
#define STEWARD_PARAMS_CLASSIFY_H

#include <cstdint>

#include "params/parameters.h"

#define KEYWORD_WORKING_DIRECTORY "wrkdir="
#define KEYWORD_MAIN_CLASS "mainclass="
#define KEYWORD_JVM_LIBRARY "jvmdll="

// Fills list with copies of the JVM option entries, in input order. An entry that begins with
// "/D" or "/X" keeps its slash: the VM receives it unchanged.
void CollectJavaOptions(std::uint32_t count, const char* const* entries, StringList& list);

// Fills list with copies of the entries that are neither JVM options nor settings, in input
// order. An entry that is a setting keyword alone ("wrkdir=") is left out too.
void CollectProgramArguments(std::uint32_t count, const char* const* entries, StringList& list);

// Returns the value of the first entry that begins with keyword (case-insensitively) and is
// longer than it: a pointer into that entry just past the keyword, not a copy. Returns null when
// there is none.
const char* FindSetting(std::uint32_t count, const char* const* entries, const char* keyword);

#endif  // STEWARD_PARAMS_CLASSIFY_H
