#include "host/launcher.h"

#include <string>
#include <vector>

#include "core/log.h"
#include "core/messages.h"
#include "host/host_state.h"
#include "host/locator.h"
#include "platform/win32.h"

namespace {

typedef jint(JNICALL* CreateJavaVMFunction)(JavaVM**, void**, void*);

// What the launcher needs from the host state, copied when the thread starts: a stop may
// release the lists, and the run's owner the entries the settings point into, while the launch
// goes on.
struct Launch {
  std::vector<std::string> options;
  std::vector<std::string> arguments;
  std::string workingDirectory;
  std::string mainClass;
  std::string jvmLibrary;
  bool hasWorkingDirectory = false;
  bool hasMainClass = false;
  bool hasJvmLibrary = false;
};

// Copies the host state into launch; false when the run has been stopped already.
bool TakeLaunch(Launch& launch) {
  std::lock_guard<std::mutex> lock(hostMutex);
  if (hostStopped) return false;
  launch.options.assign(javaOptions.entries, javaOptions.entries + javaOptions.count);
  launch.arguments.assign(programArguments.entries,
                          programArguments.entries + programArguments.count);
  const auto take = [](const char* setting, std::string& value, bool& present) {
    present = setting != nullptr;
    if (present) value = setting;
  };
  take(hostSettings.workingDirectory, launch.workingDirectory, launch.hasWorkingDirectory);
  take(hostSettings.mainClass, launch.mainClass, launch.hasMainClass);
  take(hostSettings.jvmLibrary, launch.jvmLibrary, launch.hasJvmLibrary);
  return true;
}

// Looks up an export of the JVM library as the function type it has.
template <typename Function>
Function FindExport(HMODULE library, const char* name) {
  FARPROC found = GetProcAddress(library, name);
  // Through the generic function type, which converts to any other without a warning.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)(void)>(found));
}

// A Java string from text in the process's code page. Decoding it here (rather than handing the
// bytes to NewStringUTF, which expects modified UTF-8) keeps text that is not 7-bit ASCII
// intact. Returns null on failure, with or without a pending Java exception.
jstring NewJavaString(JNIEnv* env, const std::string& text) {
  const int length = static_cast<int>(text.size());
  std::vector<WCHAR> wide(text.size() + 1);
  const int converted =
      length == 0 ? 0
                  : MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), length + 1);
  if (length != 0 && converted == 0) return nullptr;
  return env->NewString(reinterpret_cast<const jchar*>(wide.data()), converted);
}

// Builds main's String[] from the program arguments; null after logging on failure.
jobjectArray NewArgumentArray(JNIEnv* env, const std::vector<std::string>& arguments) {
  jclass stringClass = env->FindClass("java/lang/String");
  if (arguments.empty()) {
    jobjectArray empty =
        stringClass == nullptr ? nullptr : env->NewObjectArray(0, stringClass, nullptr);
    if (CheckJavaException(env, MSG_NO_EMPTY_ARGUMENT_ARRAY)) return nullptr;
    if (CheckJavaResult(empty, MSG_NO_EMPTY_ARGUMENT_ARRAY)) return nullptr;
    return empty;
  }

  const jsize count = static_cast<jsize>(arguments.size());
  jobjectArray array =
      stringClass == nullptr ? nullptr : env->NewObjectArray(count, stringClass, nullptr);
  if (CheckJavaException(env, MSG_NO_ARGUMENT_ARRAY)) return nullptr;
  if (CheckJavaResult(array, MSG_NO_ARGUMENT_ARRAY)) return nullptr;
  for (jsize i = 0; i < count; ++i) {
    jstring argument = NewJavaString(env, arguments[static_cast<std::size_t>(i)]);
    if (CheckJavaException(env, MSG_NO_ARGUMENT)) return nullptr;
    if (CheckJavaResult(argument, MSG_NO_ARGUMENT)) return nullptr;
    env->SetObjectArrayElement(array, i, argument);
    if (CheckJavaException(env, MSG_CANNOT_ASSIGN_ARGUMENT)) return nullptr;
  }
  return array;
}

// The launch itself. Returns true when main returned normally; false when a step failed (it has
// been logged) or main ended with an exception. Whatever was created stays in place: the VM and
// the library live until the process ends.
bool LaunchJava(const Launch& launch) {
  if (!launch.hasMainClass) {
    LogEvent(MSG_NO_MAIN_CLASS);
    return false;
  }

  char libraryPath[kLibraryPathSize];
  if (!LocateRuntimeLibrary(launch.hasJvmLibrary ? launch.jvmLibrary.c_str() : nullptr,
                            libraryPath)) {
    return false;
  }

  if (launch.hasWorkingDirectory && !SetCurrentDirectoryA(launch.workingDirectory.c_str())) {
    LogEvent(MSG_CANNOT_CHANGE_DIRECTORY);
    return false;
  }

  // A service has no console; the JVM's own console output then has somewhere to go. In console
  // mode the process has one already and the call fails harmlessly.
  AllocConsole();

  HMODULE library = LoadLibraryA(libraryPath);
  if (library == nullptr) {
    LogEventFormatted(MSG_ERROR_LOADING, libraryPath);
    return false;
  }
  const auto createJavaVM = FindExport<CreateJavaVMFunction>(library, "JNI_CreateJavaVM");
  // Not called, but every JVM library has it: its absence means this is not one.
  const auto defaultArgs = FindExport<void (*)(void)>(library, "JNI_GetDefaultJavaVMInitArgs");
  if (createJavaVM == nullptr || defaultArgs == nullptr) {
    LogEventFormatted(MSG_NO_JNI_INTERFACES, libraryPath);
    return false;
  }

  if (launch.options.size() > static_cast<std::size_t>(kMaxJavaOptions)) {
    LogEventFormatted(MSG_TOO_MANY_JAVA_OPTIONS, kMaxJavaOptions);
    return false;
  }
  JavaVMOption options[kMaxJavaOptions] = {};
  for (std::size_t i = 0; i < launch.options.size(); ++i) {
    options[i].optionString = const_cast<char*>(launch.options[i].c_str());
    options[i].extraInfo = nullptr;
  }
  JavaVMInitArgs initArgs = {};
  initArgs.version = JNI_VERSION_1_2;
  initArgs.nOptions = static_cast<jint>(launch.options.size());
  initArgs.options = options;
  initArgs.ignoreUnrecognized = JNI_TRUE;
  if (createJavaVM(&javaVM, reinterpret_cast<void**>(&jniEnv), &initArgs) < 0) {
    LogEvent(MSG_CANNOT_CREATE_VM);
    return false;
  }
  JNIEnv* env = jniEnv;

  // Class names are passed as given, with slashes between the package parts.
  jclass mainClass = env->FindClass(launch.mainClass.c_str());
  if (CheckJavaException(env, MSG_NO_MAIN_CLASS_FOUND)) return false;
  if (CheckJavaResult(mainClass, MSG_NO_MAIN_CLASS_FOUND)) return false;

  jmethodID mainMethod = env->GetStaticMethodID(mainClass, "main", "([Ljava/lang/String;)V");
  if (CheckJavaException(env, MSG_NO_MAIN_METHOD)) return false;
  if (CheckJavaResult(mainMethod, MSG_NO_MAIN_METHOD)) return false;

  jobjectArray arguments = NewArgumentArray(env, launch.arguments);
  if (arguments == nullptr) return false;

  SetConsoleCtrlHandler(ConsoleCtrlHandler, TRUE);
  env->CallStaticVoidMethod(mainClass, mainMethod, arguments);
  const bool threw = CheckJavaException(env, MSG_MAIN_THREW);

  // Returns once the application's other non-daemon threads have ended.
  javaVM->DestroyJavaVM();
  return !threw;
}

}  // namespace

bool CheckJavaException(JNIEnv* env, const char* message) {
  if (env->ExceptionCheck() != JNI_TRUE) return false;
  LogEvent(message);
  env->ExceptionClear();
  return true;
}

bool CheckJavaResult(const void* value, const char* message) {
  if (value != nullptr) return false;
  LogEvent(message);
  return true;
}

void JavaLauncherThread(void* /*unused*/) {
  Launch launch;
  if (!TakeLaunch(launch)) return;
  // A main that returns normally leaves the run waiting for its stop; anything else ends it.
  if (!LaunchJava(launch)) FailHost();
}
