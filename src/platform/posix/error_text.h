// Error codes and their texts inside the POSIX platform layer.
//
// The layer speaks Windows error codes to its callers, so every failure of a POSIX call has to be
// translated into the code Windows would have given, and FormatMessageA has to know the English
// text Windows shows for each code the layer can set.
#ifndef STEWARD_PLATFORM_POSIX_ERROR_TEXT_H
#define STEWARD_PLATFORM_POSIX_ERROR_TEXT_H

#include "platform/win32.h"

namespace steward::posix {

// Windows' own English system text for `code`, ending in "\r\n" as the system message table
// gives it, or nullptr when the layer does not know the code.
const char* SystemErrorText(DWORD code) noexcept;

// The Windows error code that stands for the errno value `error` in a file or directory call.
// ENOENT becomes ERROR_FILE_NOT_FOUND and ENOTDIR ERROR_PATH_NOT_FOUND; callers that can tell a
// missing folder from a missing file refine these themselves.
DWORD ErrorFromErrno(int error) noexcept;

}  // namespace steward::posix

#endif  // STEWARD_PLATFORM_POSIX_ERROR_TEXT_H
