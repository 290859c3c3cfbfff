// The one diagnostic channel of the service runtime and the Java host, and the text of the last
// system error for the registration tools' messages.
#ifndef STEWARD_CORE_LOG_H
#define STEWARD_CORE_LOG_H

#include <cstddef>

constexpr int kErrorTextSize = 256;
constexpr std::size_t kEventTextSize = 4096;
// Every entry is an information entry with this identifier (informational severity, code 1).
constexpr unsigned kEventIdentifier = 0x40000001u;

// The buffer the registration tools hand to GetLastErrorText.
extern char errorText[kErrorTextSize];

// Reports message: on standard output in console mode, otherwise as one entry of the
// Application event log under the source serviceName, with the text "NAME: message". A text
// longer than the event buffer is cut at the buffer. A source that cannot be opened loses the
// message silently: there is nowhere else to report it.
void LogEvent(const char* message);

// LogEvent of a printf-style message, formatted into the event buffer and cut there if longer.
void LogEventFormatted(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes "TEXT (0xCODE)" for the calling thread's last error into buffer (capacity size bytes)
// and returns buffer. It yields the empty string when the system has no text for the code or
// the buffer cannot hold the text plus 14 bytes, so callers' messages end after the dash.
char* GetLastErrorText(char* buffer, int size);

#endif  // STEWARD_CORE_LOG_H
