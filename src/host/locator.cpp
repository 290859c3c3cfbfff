#include "host/locator.h"

#include <cstdio>
#include <cstring>

#include "core/log.h"
#include "core/messages.h"
#include "core/registry.h"

namespace {

constexpr std::size_t kVersionSize = 1025;
constexpr std::size_t kKeyPathSize = 1024;

struct RuntimeKey {
  const char* path;        // the key that names the current version
  bool needsMicroVersion;  // whether the version's key must hold MicroVersion too
};

// Searched in order; the first whose CurrentVersion can be read is the one used. The first two
// are what Java runtimes up to version 8 write; Java 9 and later write only the last two.
const RuntimeKey kRuntimeKeys[] = {
    {"Software\\JavaSoft\\Java Runtime Environment", true},
    {"Software\\IBM\\Java2 Runtime Environment", true},
    {"Software\\JavaSoft\\JRE", false},
    {"Software\\JavaSoft\\JDK", false},
};

bool ReadString(char* buffer, DWORD capacity, const char* path, const char* name) {
  DWORD size = capacity;
  return RegReadString(buffer, &size, HKEY_LOCAL_MACHINE, path, name) == 0;
}

}  // namespace

bool LocateRuntimeLibrary(const char* jvmLibrary, char* path) {
  if (jvmLibrary != nullptr) {
    // A path that does not fit is refused: a cut path would load some other file, or none.
    const std::size_t length = std::strlen(jvmLibrary);
    if (length >= kLibraryPathSize) {
      char message[256];
      std::snprintf(message, sizeof message, MSG_JVM_LIBRARY_TOO_LONG,
                    static_cast<unsigned>(length), static_cast<unsigned>(kLibraryPathSize - 1));
      LogEvent(message);
      return false;
    }
    std::memcpy(path, jvmLibrary, length + 1);
    return true;
  }

  char version[kVersionSize] = "";
  const RuntimeKey* found = nullptr;
  for (const RuntimeKey& key : kRuntimeKeys) {
    if (ReadString(version, kVersionSize - 1, key.path, "CurrentVersion")) {
      found = &key;
      break;
    }
    version[0] = '\0';
  }
  if (found == nullptr || version[0] == '\0') {
    LogEvent(MSG_NO_JRE_REGISTRY);
    return false;
  }

  // The version's key: a too-long version cannot name a key, and fails like a missing one.
  char versionKey[kKeyPathSize];
  const int written = std::snprintf(versionKey, sizeof versionKey, "%s\\%s", found->path, version);
  char microVersion[kVersionSize];
  const bool located = written > 0 && static_cast<std::size_t>(written) < sizeof versionKey &&
                       ReadString(path, kLibraryPathSize, versionKey, "RuntimeLib") &&
                       (!found->needsMicroVersion ||
                        ReadString(microVersion, sizeof microVersion, versionKey, "MicroVersion"));
  if (!located) {
    char message[kVersionSize + 128];
    std::snprintf(message, sizeof message, MSG_NO_JRE_VERSION_REGISTRY, version);
    LogEvent(message);
    return false;
  }
  return true;
}
