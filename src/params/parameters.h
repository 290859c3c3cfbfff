// The launch parameters of a service are stored as one string: the parameters in order,
// separated by single tab characters, NUL-terminated, at most 8192 bytes with the terminator.
// This file joins command-line arguments into that string, splits it back into a StringList,
// and owns the StringList type itself.
#ifndef STEWARD_PARAMS_PARAMETERS_H
#define STEWARD_PARAMS_PARAMETERS_H

#include <cstddef>
#include <cstdint>

// Capacity of the stored parameter string, terminator included.
constexpr std::size_t kParameterStringSize = 8192;

// A list of separately allocated NUL-terminated strings, in a fixed order. With count 0 there is
// no array. The list owns its strings: ReleaseStringList frees them, and so does the destructor
// of a list that still holds any.
struct StringList {
  std::uint32_t count = 0;
  char** entries = nullptr;

  StringList() = default;
  StringList(const StringList&) = delete;
  StringList& operator=(const StringList&) = delete;
  ~StringList();
};

// Frees every string, then the array, and leaves the list empty. Releasing an empty list does
// nothing, so a list can be released more than once.
void ReleaseStringList(StringList& list);

// Building a list takes two steps, so callers can count first and copy second without any
// side storage: AllocateStringList empties list and gives it count null slots;
// SetStringListEntry copies length bytes of data into slot index. Either returns false on an
// allocation failure, after which the list has been left empty.
bool AllocateStringList(StringList& list, std::uint32_t count);
bool SetStringListEntry(StringList& list, std::uint32_t index, const char* data,
                        std::size_t length);

// Why a set of parameters cannot be stored as one parameter string.
enum class ParameterProblem {
  kNone,
  // A parameter contains a tab: it would come back as two parameters.
  kContainsTab,
  // The joined string with its terminator needs more than the capacity.
  kTooLong,
};

// Checks argv[start] .. argv[argc - 1] before they are joined. When a parameter holds a tab,
// *offending (if given) receives its index.
ParameterProblem CheckParameters(int start, int argc, const char* const* argv, std::size_t capacity,
                                 int* offending);

// Joins argv[start] .. argv[argc - 1] with tabs into out, whose capacity is given in bytes, and
// returns out. Returns null without touching out when there is nothing to join, and when
// CheckParameters finds a problem: a parameter string is never cut or overrun.
char* JoinParameters(char* out, std::size_t capacity, int start, int argc, const char* const* argv);

// Fills list with the parameters of text, split at tabs: runs of tabs separate like one tab,
// tabs at either end produce nothing, and no entry is ever empty. The empty text, or one made
// only of tabs, gives an empty list.
void SplitParameters(const char* text, StringList& list);

#endif  // STEWARD_PARAMS_PARAMETERS_H
