#include "core/log.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "core/entry.h"
#include "platform/win32.h"

char errorText[kErrorTextSize];

void LogEvent(const char* message) {
  if (consoleMode == 1) {
    std::printf("%s\n", message);
    std::fflush(stdout);
    return;
  }

  // The source is registered anew for every message: LogEvent runs on several threads and keeps
  // no state between calls.
  HANDLE source = RegisterEventSourceA(nullptr, serviceName);
  char text[kEventTextSize];
  std::snprintf(text, sizeof text, "%s: %s", serviceName, message);
  if (source == nullptr) return;

  LPCSTR strings[] = {text};
  ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 0, kEventIdentifier, nullptr, 1, 0, strings,
               nullptr);
  DeregisterEventSource(source);
}

void LogEventFormatted(const char* format, ...) {
  char message[kEventTextSize];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(message, sizeof message, format, arguments);
  va_end(arguments);
  LogEvent(message);
}

char* GetLastErrorText(char* buffer, int size) {
  const DWORD code = GetLastError();
  if (buffer == nullptr || size <= 0) return buffer;

  // Inserts are ignored: some system texts hold "%1" placeholders, and with no arguments to fill
  // them the formatting would read memory that is not there.
  char* text = nullptr;
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                         FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);

  if (length == 0 || text == nullptr || static_cast<std::int64_t>(size) < length + 14ll) {
    buffer[0] = '\0';
  } else {
    // The system text ends in a line break; the message it goes into has its own.
    DWORD end = length;
    while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r')) --end;
    text[end] = '\0';
    std::snprintf(buffer, static_cast<std::size_t>(size), "%s (0x%x)", text,
                  static_cast<unsigned>(code));
  }
  if (text != nullptr) LocalFree(text);
  return buffer;
}
