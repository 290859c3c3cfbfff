// Finding the JVM library: named by the launch parameters, or found through the registry keys
// that an installed Java runtime writes.
#ifndef STEWARD_HOST_LOCATOR_H
#define STEWARD_HOST_LOCATOR_H

#include <cstddef>

// The library path buffer holds MAX_PATH bytes, terminator included.
constexpr std::size_t kLibraryPathSize = 260;

// Fills path (kLibraryPathSize bytes) with the JVM library to load and returns true. jvmLibrary
// is the jvmdll= setting or null. Without it the runtime is looked up in the registry under
// HKEY_LOCAL_MACHINE: "Software\JavaSoft\Java Runtime Environment", then "Software\IBM\Java2
// Runtime Environment" (CurrentVersion, then RuntimeLib and MicroVersion under the version's
// key); when neither has a CurrentVersion, the keys of Java 9 and later, "Software\JavaSoft\JRE"
// and "Software\JavaSoft\JDK" (RuntimeLib under the version's key). Every failure is logged.
bool LocateRuntimeLibrary(const char* jvmLibrary, char* path);

#endif  // STEWARD_HOST_LOCATOR_H
