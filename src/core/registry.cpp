#include "core/registry.h"

namespace {

// Closes an opened key when the helper leaves, whichever road it takes.
class OpenKey {
 public:
  OpenKey() = default;
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  ~OpenKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  PHKEY out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

char kKeyClass[] = "LocalSystem";

int WriteValue(HKEY root, const char* path, const char* name, DWORD type, const BYTE* data,
               DWORD count) {
  OpenKey key;
  if (RegOpenKeyExA(root, path, 0, KEY_WRITE, key.out()) != ERROR_SUCCESS) return 1;
  return RegSetValueExA(key.get(), name, 0, type, data, count) == ERROR_SUCCESS ? 0 : 1;
}

}  // namespace

int RegReadString(char* buffer, DWORD* size, HKEY root, const char* path, const char* name) {
  const DWORD capacity = *size;
  DWORD type = REG_NONE;
  {
    OpenKey key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, key.out()) != ERROR_SUCCESS) return 1;
    if (RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<LPBYTE>(buffer), size) !=
        ERROR_SUCCESS) {
      return 1;
    }
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return 1;

  // The registry keeps a string's bytes as they were written, terminator or not; never hand
  // back a text that would run past what was stored.
  if (*size == 0 || buffer[*size - 1] != '\0') {
    if (*size >= capacity) return 1;
    buffer[*size] = '\0';
  }
  return 0;
}

int RegWriteString(const char* text, DWORD count, HKEY root, const char* path, const char* name) {
  return WriteValue(root, path, name, REG_SZ, reinterpret_cast<const BYTE*>(text), count);
}

int RegWriteDword(DWORD value, HKEY root, const char* path, const char* name) {
  return WriteValue(root, path, name, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                    sizeof value);
}

int RegCreateKeyWithClass(HKEY root, const char* path) {
  OpenKey key;
  DWORD disposition = 0;
  if (RegCreateKeyExA(root, path, 0, kKeyClass, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                      key.out(), &disposition) != ERROR_SUCCESS) {
    return 1;
  }
  return 0;
}
