// Registry chores shared by the unit tests that work in the real registry of their build.
#ifndef STEWARD_TESTS_UNIT_TEST_REGISTRY_H
#define STEWARD_TESTS_UNIT_TEST_REGISTRY_H

#include <string>

#include "platform/win32.h"

// Deletes HKEY_LOCAL_MACHINE\path and everything below it, deepest first; a missing key is fine.
inline void DeleteRegistryTree(const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  char name[256];
  DWORD length = sizeof name;
  while (RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS) {
    DeleteRegistryTree(path + "\\" + name);
    length = sizeof name;
  }
  RegCloseKey(key);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
}

#endif  // STEWARD_TESTS_UNIT_TEST_REGISTRY_H
