// The one door between steward and the operating system.
//
// steward is written against the Win32 API (ANSI variants throughout). On Windows this header
// simply brings in <windows.h>. Everywhere else it declares the subset of Win32 that steward
// uses, with the same names, types, constant values and calling rules, and the platform layer in
// platform/posix/ implements it with Windows' semantics:
//
//   - Failing calls set the calling thread's last error to a Windows error code, and
//     FormatMessageA knows Windows' English text for every code the layer sets.
//   - The registry lives in one SQLite database under the store root (platform/posix/store.h);
//     key and value names compare case-insensitively; every write is one transaction.
//   - ReportEventA appends one JSON line per event to eventlog/Application.log under the root and
//     copies the text to syslog.
//   - StartServiceCtrlDispatcherA fails with ERROR_FAILED_SERVICE_CONTROLLER_CONNECT in a process
//     that no service manager started, as on Windows.
//
// No code outside platform/ may test _WIN32: whatever differs between the systems is hidden here.
#ifndef STEWARD_PLATFORM_WIN32_H
#define STEWARD_PLATFORM_WIN32_H

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <process.h>
#include <string.h>

#else  // The stand-in declarations for POSIX systems.

#include <stddef.h>
#include <stdint.h>

// ---- Basic types. Windows is LLP64: DWORD and LONG are 32 bits on every Windows target, so
// they are spelled with fixed-width types here rather than with `long`.
typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef char CHAR;
typedef void* HANDLE;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef BYTE* LPBYTE;
typedef const BYTE* LPCBYTE;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
typedef DWORD REGSAM;
typedef LONG LSTATUS;
typedef void* PSID;
typedef void* HLOCAL;
typedef uintptr_t ULONG_PTR;
typedef intptr_t INT_PTR;
typedef INT_PTR (*FARPROC)(void);

typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef struct HINSTANCE__* HMODULE;
typedef struct SC_HANDLE__* SC_HANDLE;
typedef struct SERVICE_STATUS_HANDLE__* SERVICE_STATUS_HANDLE;

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME, *PFILETIME;

#define WINAPI
#define CALLBACK
#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu

// ---- Error codes (winerror.h values).
#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_TOO_MANY_OPEN_FILES 4L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DATA 13L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_GEN_FAILURE 31L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_DISK_FULL 112L
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_DIRECTORY 267L
#define ERROR_MR_MID_NOT_FOUND 317L
#define ERROR_BADDB 1009L
#define ERROR_BADKEY 1010L
#define ERROR_CANTOPEN 1011L
#define ERROR_CANTREAD 1012L
#define ERROR_CANTWRITE 1013L
#define ERROR_REGISTRY_IO_FAILED 1016L
#define ERROR_KEY_DELETED 1018L
#define ERROR_DEPENDENT_SERVICES_RUNNING 1051L
#define ERROR_INVALID_SERVICE_CONTROL 1052L
#define ERROR_SERVICE_REQUEST_TIMEOUT 1053L
#define ERROR_SERVICE_ALREADY_RUNNING 1056L
#define ERROR_SERVICE_DOES_NOT_EXIST 1060L
#define ERROR_SERVICE_CANNOT_ACCEPT_CTRL 1061L
#define ERROR_SERVICE_NOT_ACTIVE 1062L
#define ERROR_FAILED_SERVICE_CONTROLLER_CONNECT 1063L
#define ERROR_SERVICE_SPECIFIC_ERROR 1066L
#define ERROR_PROCESS_ABORTED 1067L
#define ERROR_SERVICE_MARKED_FOR_DELETE 1072L
#define ERROR_SERVICE_EXISTS 1073L
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#define RPC_S_SERVER_UNAVAILABLE 1722L
#define ERROR_CANT_RESOLVE_FILENAME 1921L

// ---- Kernel services.
DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD code);

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FF

// Only FORMAT_MESSAGE_FROM_SYSTEM is supported as a source. With FORMAT_MESSAGE_ALLOCATE_BUFFER,
// buffer is really a char** that receives a block to release with LocalFree.
DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                            LPSTR buffer, DWORD size, void* arguments);
HLOCAL WINAPI LocalFree(HLOCAL block);

// The calling program's own module (module == NULL) or one loaded with LoadLibraryA.
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR filename, DWORD size);

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                           LPCSTR name);
BOOL WINAPI SetEvent(HANDLE event);
BOOL WINAPI ResetEvent(HANDLE event);
DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL WINAPI CloseHandle(HANDLE handle);
void WINAPI Sleep(DWORD milliseconds);

// The C runtime's thread start: the thread is detached and its handle is not the caller's to
// close. Returns (uintptr_t)-1 on failure.
uintptr_t _beginthread(void (*start)(void*), unsigned stackSize, void* argument);

HMODULE WINAPI LoadLibraryA(LPCSTR fileName);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName);
BOOL WINAPI SetCurrentDirectoryA(LPCSTR pathName);
BOOL WINAPI AllocConsole(void);

// Text conversion. The ANSI code page of a POSIX system is UTF-8: CP_ACP and CP_UTF8 both
// decode UTF-8, and MB_ERR_INVALID_CHARS refuses malformed input with
// ERROR_NO_UNICODE_TRANSLATION. WCHAR is a UTF-16 code unit, as on Windows.
typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
#define CP_ACP 0
#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x00000008
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR wide,
                               int wideLength);

// Console control. Handlers run last-added first on a thread of the layer's own; TRUE ends the
// handling, FALSE passes the event on; when no handler takes it, the process ends as Windows
// ends it. Signals stand for the events: SIGINT for CTRL_C_EVENT, SIGQUIT for CTRL_BREAK_EVENT,
// SIGHUP for CTRL_CLOSE_EVENT, SIGTERM for CTRL_SHUTDOWN_EVENT. A signal handler installed before
// the first handler was added (a JVM installs its own) is reached after every handler returned
// FALSE, where the JVM's own console handler stands on Windows.
#define CTRL_C_EVENT 0
#define CTRL_BREAK_EVENT 1
#define CTRL_CLOSE_EVENT 2
#define CTRL_LOGOFF_EVENT 5
#define CTRL_SHUTDOWN_EVENT 6
typedef BOOL(WINAPI* PHANDLER_ROUTINE)(DWORD ctrlType);
BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add);

// The C runtime's case-insensitive comparisons (ASCII letters only, as in the "C" locale).
int _stricmp(const char* a, const char* b);
int _strnicmp(const char* a, const char* b, size_t count);

// ---- Registry.
// The predefined keys are fixed handle values, as on Windows; spelled with C++ casts because this
// header is compiled with -Wold-style-cast (unlike <windows.h>, which is a system header).
#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000002u)))
#define HKEY_USERS (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000003u)))

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
#define REG_QWORD 11

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F

#define REG_OPTION_NON_VOLATILE 0x00000000
#define REG_CREATED_NEW_KEY 0x00000001
#define REG_OPENED_EXISTING_KEY 0x00000002

LSTATUS WINAPI RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LSTATUS WINAPI RegCreateKeyExA(HKEY root, LPCSTR subKey, DWORD reserved, LPSTR keyClass,
                               DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES attributes,
                               PHKEY result, LPDWORD disposition);
LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                                LPBYTE data, LPDWORD dataSize);
LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                              const BYTE* data, DWORD dataSize);
LSTATUS WINAPI RegDeleteValueA(HKEY key, LPCSTR valueName);
LSTATUS WINAPI RegDeleteKeyA(HKEY root, LPCSTR subKey);
LSTATUS WINAPI RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                             LPSTR keyClass, LPDWORD classSize, PFILETIME lastWriteTime);
LSTATUS WINAPI RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize,
                             LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize);
LSTATUS WINAPI RegQueryInfoKeyA(HKEY key, LPSTR keyClass, LPDWORD classSize, LPDWORD reserved,
                                LPDWORD subKeys, LPDWORD maxSubKeyLen, LPDWORD maxClassLen,
                                LPDWORD values, LPDWORD maxValueNameLen, LPDWORD maxValueLen,
                                LPDWORD securityDescriptorSize, PFILETIME lastWriteTime);
LSTATUS WINAPI RegCloseKey(HKEY key);

// ---- Event log.
#define EVENTLOG_SUCCESS 0x0000
#define EVENTLOG_ERROR_TYPE 0x0001
#define EVENTLOG_WARNING_TYPE 0x0002
#define EVENTLOG_INFORMATION_TYPE 0x0004

HANDLE WINAPI RegisterEventSourceA(LPCSTR serverName, LPCSTR sourceName);
BOOL WINAPI ReportEventA(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID userSid,
                         WORD numStrings, DWORD dataSize, LPCSTR* strings, LPVOID rawData);
BOOL WINAPI DeregisterEventSource(HANDLE eventLog);

// ---- Service control manager.
typedef void(WINAPI* LPSERVICE_MAIN_FUNCTIONA)(DWORD argc, LPSTR* argv);

typedef struct _SERVICE_TABLE_ENTRYA {
  LPSTR lpServiceName;
  LPSERVICE_MAIN_FUNCTIONA lpServiceProc;
} SERVICE_TABLE_ENTRYA, *LPSERVICE_TABLE_ENTRYA;

BOOL WINAPI StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* serviceTable);

#define SERVICE_WIN32_OWN_PROCESS 0x00000010
#define SERVICE_STOPPED 0x00000001
#define SERVICE_START_PENDING 0x00000002
#define SERVICE_STOP_PENDING 0x00000003
#define SERVICE_RUNNING 0x00000004
#define SERVICE_ACCEPT_STOP 0x00000001
#define SERVICE_CONTROL_STOP 0x00000001
#define SERVICE_CONTROL_INTERROGATE 0x00000004

typedef struct _SERVICE_STATUS {
  DWORD dwServiceType;
  DWORD dwCurrentState;
  DWORD dwControlsAccepted;
  DWORD dwWin32ExitCode;
  DWORD dwServiceSpecificExitCode;
  DWORD dwCheckPoint;
  DWORD dwWaitHint;
} SERVICE_STATUS, *LPSERVICE_STATUS;

BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status);

#endif  // _WIN32

#endif  // STEWARD_PLATFORM_WIN32_H
