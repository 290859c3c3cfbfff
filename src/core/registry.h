// The registry helpers that the rest of steward shares. Each opens the key it needs, does one
// thing and closes the key on every road out. They return 0 on success and 1 on any failure
// (missing key or value, access denied, wrong type, buffer too small); callers decide what to
// report.
#ifndef STEWARD_CORE_REGISTRY_H
#define STEWARD_CORE_REGISTRY_H

#include "platform/win32.h"

// Reads the string value name of root\path into buffer. On entry *size is the buffer's capacity
// in bytes; on success it is the number of bytes stored. REG_SZ and REG_EXPAND_SZ are accepted,
// the latter returned as stored, without expanding environment references. The text handed back
// is always terminated within the buffer, also when another tool stored it without its
// terminator; a value that fills the buffer without one is refused.
int RegReadString(char* buffer, DWORD* size, HKEY root, const char* path, const char* name);

// Writes text as a REG_SZ value of count bytes (callers pass the length plus one, so the
// terminator is stored).
int RegWriteString(const char* text, DWORD count, HKEY root, const char* path, const char* name);

// Writes a REG_DWORD value.
int RegWriteDword(DWORD value, HKEY root, const char* path, const char* name);

// Creates root\path with its missing parents, or opens it if it exists. A key that is created
// carries the class string "LocalSystem"; an existing key is left as it is.
int RegCreateKeyWithClass(HKEY root, const char* path);

#endif  // STEWARD_CORE_REGISTRY_H
