// The event log of the POSIX platform layer.
//
// ReportEventA appends one JSON object per event, on one line, to eventlog/Application.log under
// the store root:
//
//   {"time":"2024-05-01T12:00:00.123Z","source":"steward","type":"Error","category":0,
//    "event_id":1000,"strings":["first","second"]}
//
// "time" is the UTC time of the report with milliseconds; "type" is the level as Windows' Event
// Viewer names it (Error, Warning, Information, Success, Audit Success, Audit Failure); "data"
// follows, in hexadecimal, when the caller passed binary data. Strings are escaped as JSON
// requires, and every byte that is not part of valid UTF-8 is written as \u00XX of the byte, so the
// line is always valid JSON whatever the caller's code page. Each line goes out in one write(2) on
// a descriptor opened with O_APPEND, so lines from concurrent writers, in this process or others,
// never interleave.
//
// The same text also goes to syslog, with the source as the ident and a priority that matches the
// type, so that the events show in the system's journal as they would in Windows' Event Viewer.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <syslog.h>
#include <unistd.h>
#include <unordered_map>

#include "platform/posix/error_text.h"
#include "platform/posix/store.h"
#include "platform/win32.h"

namespace {

constexpr char kLogFolder[] = "eventlog";
constexpr char kLogFile[] = "eventlog/Application.log";

struct EventSource {
  std::string name;
  std::string root;  // the store root the source was registered in; its events go there
};

// An event-source handle is the address of an EventSource listed here; the list is consulted
// before the record is used, so a stale or made-up handle gives ERROR_INVALID_HANDLE.
struct Sources {
  std::mutex mutex;
  std::unordered_map<HANDLE, std::shared_ptr<EventSource>> open;
};

Sources& AllSources() {
  static Sources* sources =
      new Sources;  // never destroyed: threads may log while the process exits
  return *sources;
}

std::shared_ptr<EventSource> FindSource(HANDLE handle) {
  Sources& sources = AllSources();
  std::lock_guard<std::mutex> lock(sources.mutex);
  const auto found = sources.open.find(handle);
  return found == sources.open.end() ? nullptr : found->second;
}

// openlog() keeps the ident pointer and is process-wide, so reports to syslog take turns.
std::mutex syslogMutex;

const char* TypeName(WORD type) {
  switch (type) {
    case EVENTLOG_SUCCESS:
      return "Success";
    case EVENTLOG_ERROR_TYPE:
      return "Error";
    case EVENTLOG_WARNING_TYPE:
      return "Warning";
    case EVENTLOG_INFORMATION_TYPE:
      return "Information";
    case 0x0008:  // EVENTLOG_AUDIT_SUCCESS
      return "Audit Success";
    case 0x0010:  // EVENTLOG_AUDIT_FAILURE
      return "Audit Failure";
    default:
      return nullptr;
  }
}

int SyslogPriority(WORD type) {
  switch (type) {
    case EVENTLOG_ERROR_TYPE:
      return LOG_ERR;
    case EVENTLOG_WARNING_TYPE:
    case 0x0010:  // EVENTLOG_AUDIT_FAILURE
      return LOG_WARNING;
    default:
      return LOG_INFO;
  }
}

// The length of the valid UTF-8 sequence at the start of `text` (of `left` bytes), or 0 when the
// bytes there are not one: overlong forms, surrogates and values above U+10FFFF are refused.
size_t Utf8SequenceLength(const unsigned char* text, size_t left) {
  const unsigned char lead = text[0];
  size_t length = 0;
  unsigned long value = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
  } else {
    return 0;
  }
  if (left < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((text[i] & 0xC0) != 0x80) return 0;
    value = (value << 6) | (text[i] & 0x3F);
  }
  if ((length == 3 && (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF))) ||
      (length == 4 && (value < 0x10000 || value > 0x10FFFF))) {
    return 0;
  }
  return length;
}

void AppendJsonString(std::string& out, const char* text) {
  static const char kHex[] = "0123456789abcdef";
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  size_t left = std::char_traits<char>::length(text);
  out += '"';
  while (left > 0) {
    const unsigned char c = *bytes;
    size_t step = 1;
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x80 && c >= 0x20) {
      out += static_cast<char>(c);
    } else if (c >= 0x80 && (step = Utf8SequenceLength(bytes, left)) != 0) {
      out.append(reinterpret_cast<const char*>(bytes), step);
    } else {
      // A control character, or a byte that is not part of valid UTF-8.
      step = 1;
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
    bytes += step;
    left -= step;
  }
  out += '"';
}

std::string UtcTimestamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(milliseconds));
  return text;
}

// Appends `line` to the file at `path` in one write; returns ERROR_SUCCESS or the Windows code.
DWORD AppendLine(const std::string& path, const std::string& line) {
  const int file = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (file < 0) return steward::posix::ErrorFromErrno(errno);
  ssize_t written;
  do {
    written = write(file, line.data(), line.size());
  } while (written < 0 && errno == EINTR);
  const int error = errno;
  close(file);
  if (written < 0) return steward::posix::ErrorFromErrno(error);
  // A short write to a regular file means the disk or the quota is full.
  if (static_cast<size_t>(written) != line.size()) return ERROR_DISK_FULL;
  return ERROR_SUCCESS;
}

}  // namespace

HANDLE WINAPI RegisterEventSourceA(LPCSTR serverName, LPCSTR sourceName) {
  // Only the local event log exists; a remote server cannot be reached.
  if (serverName != nullptr && serverName[0] != '\0') {
    SetLastError(RPC_S_SERVER_UNAVAILABLE);
    return nullptr;
  }
  if (sourceName == nullptr || sourceName[0] == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  try {
    auto source =
        std::make_shared<EventSource>(EventSource{sourceName, steward::posix::StoreRoot()});
    HANDLE handle = source.get();
    Sources& sources = AllSources();
    std::lock_guard<std::mutex> lock(sources.mutex);
    sources.open.emplace(handle, std::move(source));
    return handle;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

BOOL WINAPI ReportEventA(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID userSid,
                         WORD numStrings, DWORD dataSize, LPCSTR* strings, LPVOID rawData) {
  (void)userSid;  // events carry no user here
  const std::shared_ptr<EventSource> source = FindSource(eventLog);
  if (source == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const char* typeName = TypeName(type);
  bool valid = typeName != nullptr && (numStrings == 0 || strings != nullptr) &&
               (dataSize == 0 || rawData != nullptr);
  for (WORD i = 0; valid && i < numStrings; ++i) valid = strings[i] != nullptr;
  if (!valid) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (source->root.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }

  try {
    std::string line = "{\"time\":\"" + UtcTimestamp() + "\",\"source\":";
    AppendJsonString(line, source->name.c_str());
    line += ",\"type\":\"";
    line += typeName;
    line += "\",\"category\":" + std::to_string(category);
    line += ",\"event_id\":" + std::to_string(eventId);
    line += ",\"strings\":[";
    std::string text;  // the strings for syslog, one after the other
    for (WORD i = 0; i < numStrings; ++i) {
      if (i > 0) {
        line += ',';
        text += ' ';
      }
      AppendJsonString(line, strings[i]);
      text += strings[i];
    }
    line += ']';
    if (dataSize > 0) {
      static const char kHex[] = "0123456789abcdef";
      line += ",\"data\":\"";
      const auto* bytes = static_cast<const unsigned char*>(rawData);
      for (DWORD i = 0; i < dataSize; ++i) {
        line += kHex[bytes[i] >> 4];
        line += kHex[bytes[i] & 0xF];
      }
      line += '"';
    }
    line += "}\n";

    DWORD result = steward::posix::CreateFolders(source->root + "/" + kLogFolder);
    if (result == ERROR_SUCCESS) result = AppendLine(source->root + "/" + kLogFile, line);
    if (result != ERROR_SUCCESS) {
      SetLastError(result);
      return FALSE;
    }

    {
      std::lock_guard<std::mutex> lock(syslogMutex);
      openlog(source->name.c_str(), LOG_PID, LOG_USER);
      syslog(SyslogPriority(type), "%s", text.c_str());
      closelog();
    }
    return TRUE;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

BOOL WINAPI DeregisterEventSource(HANDLE eventLog) {
  std::shared_ptr<EventSource> removed;  // released after the lock
  Sources& sources = AllSources();
  std::lock_guard<std::mutex> lock(sources.mutex);
  const auto found = sources.open.find(eventLog);
  if (found == sources.open.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  removed = std::move(found->second);
  sources.open.erase(found);
  return TRUE;
}
