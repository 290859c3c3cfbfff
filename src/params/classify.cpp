#include "params/classify.h"

#include <cstring>

#include "platform/win32.h"

namespace {

const char* const kSettingKeywords[] = {KEYWORD_WORKING_DIRECTORY, KEYWORD_MAIN_CLASS,
                                        KEYWORD_JVM_LIBRARY};

bool StartsWithIgnoringCase(const char* entry, const char* keyword) {
  return _strnicmp(entry, keyword, std::strlen(keyword)) == 0;
}

bool IsJavaOption(const char* entry) {
  if (entry[0] != '-' && entry[0] != '/') return false;
  return entry[1] == 'D' || entry[1] == 'X';
}

bool IsProgramArgument(const char* entry) {
  if (IsJavaOption(entry)) return false;
  for (const char* keyword : kSettingKeywords) {
    if (StartsWithIgnoringCase(entry, keyword)) return false;
  }
  return true;
}

// Copies the entries that keep() accepts into list, in order: one pass to count, one to copy.
void Collect(std::uint32_t count, const char* const* entries, bool (*keep)(const char*),
             StringList& list) {
  std::uint32_t kept = 0;
  for (std::uint32_t i = 0; i < count; ++i) kept += keep(entries[i]) ? 1 : 0;
  if (!AllocateStringList(list, kept)) return;

  std::uint32_t slot = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (!keep(entries[i])) continue;
    if (!SetStringListEntry(list, slot++, entries[i], std::strlen(entries[i]))) return;
  }
}

}  // namespace

void CollectJavaOptions(std::uint32_t count, const char* const* entries, StringList& list) {
  Collect(count, entries, IsJavaOption, list);
}

void CollectProgramArguments(std::uint32_t count, const char* const* entries, StringList& list) {
  Collect(count, entries, IsProgramArgument, list);
}

const char* FindSetting(std::uint32_t count, const char* const* entries, const char* keyword) {
  const std::size_t length = std::strlen(keyword);
  for (std::uint32_t i = 0; i < count; ++i) {
    if (std::strlen(entries[i]) > length && StartsWithIgnoringCase(entries[i], keyword)) {
      return entries[i] + length;
    }
  }
  return nullptr;
}
