#include "params/parameters.h"

#include <cstring>
#include <new>

namespace {

constexpr char kSeparator = '\t';

// Calls visit(start, length) for each field of text between tabs, skipping empty fields.
template <typename Visit>
void ForEachField(const char* text, Visit visit) {
  const char* cursor = text;
  while (*cursor != '\0') {
    while (*cursor == kSeparator) ++cursor;
    if (*cursor == '\0') break;
    const char* start = cursor;
    while (*cursor != '\0' && *cursor != kSeparator) ++cursor;
    visit(start, static_cast<std::size_t>(cursor - start));
  }
}

}  // namespace

StringList::~StringList() {
  ReleaseStringList(*this);
}

void ReleaseStringList(StringList& list) {
  for (std::uint32_t i = 0; i < list.count; ++i) delete[] list.entries[i];
  delete[] list.entries;
  list.entries = nullptr;
  list.count = 0;
}

bool AllocateStringList(StringList& list, std::uint32_t count) {
  ReleaseStringList(list);
  if (count == 0) return true;
  list.entries = new (std::nothrow) char*[count]();
  if (list.entries == nullptr) return false;
  list.count = count;
  return true;
}

bool SetStringListEntry(StringList& list, std::uint32_t index, const char* data,
                        std::size_t length) {
  char* copy = new (std::nothrow) char[length + 1];
  if (copy == nullptr) {
    ReleaseStringList(list);  // Slots not yet filled are null, which delete[] accepts.
    return false;
  }
  std::memcpy(copy, data, length);
  copy[length] = '\0';
  delete[] list.entries[index];
  list.entries[index] = copy;
  return true;
}

ParameterProblem CheckParameters(int start, int argc, const char* const* argv, std::size_t capacity,
                                 int* offending) {
  std::size_t needed = 1;  // The terminator.
  for (int i = start; i < argc; ++i) {
    if (std::strchr(argv[i], kSeparator) != nullptr) {
      if (offending != nullptr) *offending = i;
      return ParameterProblem::kContainsTab;
    }
    if (i != start) ++needed;
    needed += std::strlen(argv[i]);
    // Checked on every step, so the sum can never wrap around.
    if (needed > capacity) return ParameterProblem::kTooLong;
  }
  return ParameterProblem::kNone;
}

char* JoinParameters(char* out, std::size_t capacity, int start, int argc,
                     const char* const* argv) {
  if (start >= argc) return nullptr;
  if (CheckParameters(start, argc, argv, capacity, nullptr) != ParameterProblem::kNone) {
    return nullptr;
  }
  std::size_t used = 0;
  for (int i = start; i < argc; ++i) {
    if (i != start) out[used++] = kSeparator;
    const std::size_t length = std::strlen(argv[i]);
    std::memcpy(out + used, argv[i], length);
    used += length;
  }
  out[used] = '\0';
  return out;
}

void SplitParameters(const char* text, StringList& list) {
  std::uint32_t count = 0;
  ForEachField(text, [&count](const char*, std::size_t) { ++count; });
  if (!AllocateStringList(list, count)) return;

  std::uint32_t index = 0;
  bool copied = true;
  ForEachField(text, [&](const char* start, std::size_t length) {
    if (copied) copied = SetStringListEntry(list, index++, start, length);
  });
}
