// A stand-in JVM library for the end-to-end tests of the Windows builds, built as jvm.dll. No
// Windows JVM runs under Wine here, so steward loads this library instead and drives it through
// the same three exports and function tables as a real one. It knows the test classes of
// tests/java by name and behaves as a real JVM running them would: it writes the facts that
// probe.Probe writes, in the same format, so the same assertions hold on every build.
//
// The facts file is named by the option -Dprobe.out=PATH. Its lines, UTF-8:
//   property:NAME=VALUE  every -Dprobe.* option, sorted by name (a later option wins)
//   cwd=DIR              the current directory when main is called, as a Windows path
//   option=STRING        every option string exactly as received, in order
//   arg=VALUE            every element of main's String[], in order
//   args=N               the number of elements; the last line of what main writes
//   destroyed            appended by DestroyJavaVM once main has run
//
// What the stand-in knows, as a real JVM would show it:
//   - FindClass finds java/lang/Object, java/lang/String and the probe classes (probe/Probe,
//     probe/Throws, probe/Wait, probe/NoMain); any other name gives null and a pending
//     NoClassDefFoundError.
//   - main(String[]) exists on probe/Probe, probe/Throws and probe/Wait; probe/NoMain has none,
//     so looking it up gives null and a pending NoSuchMethodError.
//   - probe/Throws records its facts and ends main with a pending exception; probe/Wait records
//     them and keeps an application thread running, so DestroyJavaVM never returns.
//   - JNI_CreateJavaVM refuses a version below 1.2 (JNI_EVERSION), an -Xmx option whose value
//     is not a size (JNI_EINVAL), and, unless told to ignore them, options it does not
//     recognise (JNI_ERR).
//   - Like a real JVM it installs a console control handler when it is created; it answers
//     Ctrl+Break with a thread dump line on standard output and passes every other event on.
//
// Every slot of the two function tables is filled: those not implemented end the process with
// a message naming the slot, rather than crashing on a null pointer. Objects are never freed.
#include <windows.h>

#include <jni.h>

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// Objects

enum class Kind { kClass, kString, kArray, kThrowable };

// Every Java object of the stand-in. A class holds its name; a string its text as UTF-8 (or the
// bytes given to NewStringUTF) and as UTF-16; an array its elements; a throwable its message.
struct Object {
  Kind kind;
  const Object* cls;  // the object's class; null for classes (their class is java/lang/Class)
  std::string text;
  std::u16string utf16;
  std::vector<Object*> elements;
};

struct Method {
  const Object* cls;
  std::string name;
  std::string signature;
};

template <typename Handle>
Handle ToHandle(Object* object) {
  return reinterpret_cast<Handle>(object);
}

Object* FromHandle(jobject handle) {
  return reinterpret_cast<Object*>(handle);
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "steward's stand-in JVM: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

std::mutex classesMutex;
std::map<std::string, Object*> classes;

Object* ClassNamed(const std::string& name) {
  std::lock_guard<std::mutex> lock(classesMutex);
  Object*& cls = classes[name];
  if (cls == nullptr) cls = new Object{Kind::kClass, nullptr, name, {}, {}};
  return cls;
}

// What the stand-in knows about the classes a launcher may ask for.
struct KnownClass {
  const char* name;
  bool hasMain;       // has static void main(String[])
  bool records;       // main writes the facts file
  bool throws;        // main ends with an exception
  bool keepsRunning;  // main leaves a non-daemon thread running
};

constexpr KnownClass kKnownClasses[] = {
    {"java/lang/Object", false, false, false, false},
    {"java/lang/String", false, false, false, false},
    {"probe/Probe", true, true, false, false},
    {"probe/Throws", true, true, true, false},
    {"probe/Wait", true, true, false, true},
    {"probe/NoMain", false, false, false, false},
};

const KnownClass* FindKnownClass(const std::string& name) {
  for (const KnownClass& known : kKnownClasses) {
    if (name == known.name) return &known;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Text

std::string WideToUtf8(const std::u16string& wide) {
  std::string out;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t code = wide[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;  // A lone surrogate has no UTF-8 form.
    }
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return out;
}

// Decodes UTF-8 as a JVM reads the text given to NewStringUTF; a byte that starts no valid
// sequence stands for itself, so the length of any input is defined.
std::u16string Utf8ToWide(const std::string& text) {
  std::u16string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    char32_t code = extra == 0 ? lead : lead & (0x3Fu >> extra);
    bool valid = lead < 0x80 || extra > 0;  // A continuation byte cannot start a sequence.
    for (std::size_t k = 1; valid && k <= extra; ++k) {
      const auto next = i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0u;
      valid = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3F);
    }
    if (!valid) {
      code = lead;
      extra = 0;
    }
    if (code >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
    i += extra + 1;
  }
  return out;
}

// Option strings arrive in the process's ANSI code page, as a JVM on Windows reads them.
std::string AnsiToUtf8(const std::string& text) {
  if (text.empty()) return text;
  const int length = static_cast<int>(text.size());
  const int count = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (count <= 0) return text;
  std::vector<wchar_t> wide(static_cast<std::size_t>(count));
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), count);
  return WideToUtf8(std::u16string(wide.begin(), wide.end()));
}

std::string CurrentDirectory() {
  const DWORD size = GetCurrentDirectoryW(0, nullptr);
  if (size == 0) Fail("GetCurrentDirectoryW failed");
  std::vector<wchar_t> buffer(size);
  const DWORD length = GetCurrentDirectoryW(size, buffer.data());
  if (length == 0 || length >= size) Fail("GetCurrentDirectoryW failed");
  return WideToUtf8(std::u16string(buffer.begin(), buffer.begin() + length));
}

// ---------------------------------------------------------------------------------------------
// The VM

struct VmState {
  bool created = false;
  bool destroyed = false;
  std::vector<std::string> options;  // as received
  // From the -D options, later ones win; kept in the ANSI code page they came in, because the
  // facts file is opened by the path that one of them names.
  std::map<std::string, std::string> properties;
  bool recorded = false;      // a main wrote the facts: DestroyJavaVM appends "destroyed"
  bool keepsRunning = false;  // a main left a non-daemon thread: DestroyJavaVM waits for good
};

std::mutex vmMutex;
VmState vm;

// JNI keeps the pending exception and the attachment per thread.
thread_local Object* pendingException = nullptr;
thread_local bool attached = false;

void Throw(const char* className, const std::string& message) {
  pendingException = new Object{Kind::kThrowable, ClassNamed(className), message, {}, {}};
}

bool WriteText(const std::string& path, const std::string& text, bool append) {
  HANDLE file = CreateFileA(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  // One write of the whole text: a reader polling the file never meets a torn line.
  const BOOL ok =
      ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == text.size();
}

bool IsSize(const char* text) {
  std::size_t digits = 0;
  while (text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits == 0) return false;
  const char* rest = text + digits;
  return *rest == '\0' || (std::strchr("kKmMgGtT", *rest) != nullptr && rest[1] == '\0');
}

// Stands where a real JVM's console handler stands: installed when the VM is created, so any
// handler the launcher adds later is asked first.
BOOL WINAPI ConsoleHandler(DWORD event) {
  if (event != CTRL_BREAK_EVENT) return FALSE;
  std::printf("Full thread dump of steward's stand-in JVM: no threads to show.\n");
  std::fflush(stdout);
  return TRUE;
}

// What main of a known class does: write the facts, then end as that class ends.
void RunMain(const KnownClass& known, Object* array) {
  if (array == nullptr) {
    Throw("java/lang/NullPointerException", "main was called with a null array");
    return;
  }
  std::lock_guard<std::mutex> lock(vmMutex);
  if (known.records) {
    const auto out = vm.properties.find("probe.out");
    if (out == vm.properties.end()) {
      Throw("java/lang/IllegalStateException", "probe.out names no file to write the facts to");
      return;
    }
    std::string facts;
    for (const auto& [name, value] : vm.properties) {
      if (name.rfind("probe.", 0) == 0) {
        facts += "property:" + AnsiToUtf8(name) + "=" + AnsiToUtf8(value) + "\n";
      }
    }
    facts += "cwd=" + CurrentDirectory() + "\n";
    for (const std::string& option : vm.options) facts += "option=" + AnsiToUtf8(option) + "\n";
    for (const Object* element : array->elements) {
      facts += "arg=" + (element == nullptr ? std::string("null") : element->text) + "\n";
    }
    facts += "args=" + std::to_string(array->elements.size()) + "\n";
    if (!WriteText(out->second, facts, false)) {
      Throw("java/io/UncheckedIOException", "cannot write " + out->second);
      return;
    }
    vm.recorded = true;
  }
  if (known.throws) {
    Throw("java/lang/IllegalStateException",
          "probe.Throws ends its main with an exception on purpose");
  }
  if (known.keepsRunning) vm.keepsRunning = true;
}

// ---------------------------------------------------------------------------------------------
// The JNIEnv functions

namespace jni_env {

jint JNICALL GetVersion(JNIEnv* /*env*/) {
  return JNI_VERSION_10;
}

jclass JNICALL FindClass(JNIEnv* /*env*/, const char* name) {
  if (name == nullptr) Fail("FindClass was called with a null name");
  if (FindKnownClass(name) == nullptr) {
    Throw("java/lang/NoClassDefFoundError", name);
    return nullptr;
  }
  return ToHandle<jclass>(ClassNamed(name));
}

jclass JNICALL GetObjectClass(JNIEnv* /*env*/, jobject handle) {
  const Object* object = FromHandle(handle);
  if (object == nullptr) Fail("GetObjectClass was called with a null object");
  if (object->kind == Kind::kClass) return ToHandle<jclass>(ClassNamed("java/lang/Class"));
  return ToHandle<jclass>(const_cast<Object*>(object->cls));
}

jmethodID JNICALL GetStaticMethodID(JNIEnv* /*env*/, jclass handle, const char* name,
                                    const char* signature) {
  const Object* cls = FromHandle(handle);
  if (cls == nullptr || cls->kind != Kind::kClass || name == nullptr || signature == nullptr) {
    Fail("GetStaticMethodID was called without a class, name or signature");
  }
  const KnownClass* known = FindKnownClass(cls->text);
  if (known == nullptr || !known->hasMain || std::strcmp(name, "main") != 0 ||
      std::strcmp(signature, "([Ljava/lang/String;)V") != 0) {
    Throw("java/lang/NoSuchMethodError", std::string(name) + signature);
    return nullptr;
  }
  return reinterpret_cast<jmethodID>(new Method{cls, name, signature});
}

// The stand-in's classes have no instance methods that a launcher could call.
jmethodID JNICALL GetMethodID(JNIEnv* /*env*/, jclass handle, const char* name,
                              const char* signature) {
  if (FromHandle(handle) == nullptr || name == nullptr || signature == nullptr) {
    Fail("GetMethodID was called without a class, name or signature");
  }
  Throw("java/lang/NoSuchMethodError", std::string(name) + signature);
  return nullptr;
}

void JNICALL CallVoidMethodV(JNIEnv* /*env*/, jobject /*object*/, jmethodID /*method*/,
                             va_list /*args*/) {
  Fail("CallVoidMethod was called with a method that GetMethodID never gave out");
}

void JNICALL CallVoidMethod(JNIEnv* env, jobject object, jmethodID method, ...) {
  va_list args;
  va_start(args, method);
  CallVoidMethodV(env, object, method, args);
  va_end(args);
}

void JNICALL CallVoidMethodA(JNIEnv* /*env*/, jobject /*object*/, jmethodID /*method*/,
                             const jvalue* /*args*/) {
  Fail("CallVoidMethodA was called with a method that GetMethodID never gave out");
}

void CallStatic(jclass handle, jmethodID methodId, jobject argument) {
  const Object* cls = FromHandle(handle);
  const auto* method = reinterpret_cast<const Method*>(methodId);
  if (cls == nullptr || method == nullptr || method->cls != cls) {
    Fail("CallStaticVoidMethod was called with a class and method that do not belong together");
  }
  RunMain(*FindKnownClass(cls->text), FromHandle(argument));
}

void JNICALL CallStaticVoidMethodV(JNIEnv* /*env*/, jclass cls, jmethodID method, va_list args) {
  CallStatic(cls, method, va_arg(args, jobject));
}

void JNICALL CallStaticVoidMethod(JNIEnv* env, jclass cls, jmethodID method, ...) {
  va_list args;
  va_start(args, method);
  CallStaticVoidMethodV(env, cls, method, args);
  va_end(args);
}

void JNICALL CallStaticVoidMethodA(JNIEnv* /*env*/, jclass cls, jmethodID method,
                                   const jvalue* args) {
  CallStatic(cls, method, args == nullptr ? nullptr : args[0].l);
}

jboolean JNICALL ExceptionCheck(JNIEnv* /*env*/) {
  return pendingException != nullptr ? JNI_TRUE : JNI_FALSE;
}

jthrowable JNICALL ExceptionOccurred(JNIEnv* /*env*/) {
  return ToHandle<jthrowable>(pendingException);
}

void JNICALL ExceptionClear(JNIEnv* /*env*/) {
  pendingException = nullptr;
}

// As a JVM does: prints the pending exception to standard error and clears it.
void JNICALL ExceptionDescribe(JNIEnv* /*env*/) {
  if (pendingException == nullptr) return;
  std::string name = pendingException->cls->text;
  for (char& c : name) {
    if (c == '/') c = '.';
  }
  std::fprintf(stderr, "Exception in thread \"main\" %s: %s\n", name.c_str(),
               pendingException->text.c_str());
  std::fflush(stderr);
  pendingException = nullptr;
}

jstring JNICALL NewStringUTF(JNIEnv* /*env*/, const char* bytes) {
  if (bytes == nullptr) return nullptr;
  return ToHandle<jstring>(
      new Object{Kind::kString, ClassNamed("java/lang/String"), bytes, Utf8ToWide(bytes), {}});
}

jstring JNICALL NewString(JNIEnv* /*env*/, const jchar* chars, jsize length) {
  if (length < 0 || (chars == nullptr && length > 0)) {
    Fail("NewString was called with a negative length or without characters");
  }
  std::u16string wide(chars, chars + length);
  return ToHandle<jstring>(
      new Object{Kind::kString, ClassNamed("java/lang/String"), WideToUtf8(wide), wide, {}});
}

const Object* StringArgument(jstring handle, const char* function) {
  const Object* string = FromHandle(handle);
  if (string == nullptr || string->kind != Kind::kString) {
    Fail((std::string(function) + " was called without a string").c_str());
  }
  return string;
}

jsize JNICALL GetStringLength(JNIEnv* /*env*/, jstring handle) {
  return static_cast<jsize>(StringArgument(handle, "GetStringLength")->utf16.size());
}

jsize JNICALL GetStringUTFLength(JNIEnv* /*env*/, jstring handle) {
  return static_cast<jsize>(StringArgument(handle, "GetStringUTFLength")->text.size());
}

const char* JNICALL GetStringUTFChars(JNIEnv* /*env*/, jstring handle, jboolean* isCopy) {
  const std::string& text = StringArgument(handle, "GetStringUTFChars")->text;
  char* copy = new char[text.size() + 1];
  std::memcpy(copy, text.c_str(), text.size() + 1);
  if (isCopy != nullptr) *isCopy = JNI_TRUE;
  return copy;
}

void JNICALL ReleaseStringUTFChars(JNIEnv* /*env*/, jstring /*handle*/, const char* chars) {
  delete[] chars;
}

jobjectArray JNICALL NewObjectArray(JNIEnv* /*env*/, jsize length, jclass elementHandle,
                                    jobject initial) {
  const Object* element = FromHandle(elementHandle);
  if (element == nullptr || element->kind != Kind::kClass) {
    Throw("java/lang/NullPointerException", "NewObjectArray was given no element class");
    return nullptr;
  }
  if (length < 0) {
    Throw("java/lang/NegativeArraySizeException", std::to_string(length));
    return nullptr;
  }
  auto* array = new Object{Kind::kArray, ClassNamed("[L" + element->text + ";"), {}, {}, {}};
  array->elements.assign(static_cast<std::size_t>(length), FromHandle(initial));
  return ToHandle<jobjectArray>(array);
}

Object* ArrayArgument(jarray handle, const char* function) {
  Object* array = FromHandle(handle);
  if (array == nullptr || array->kind != Kind::kArray) {
    Fail((std::string(function) + " was called without an array").c_str());
  }
  return array;
}

jsize JNICALL GetArrayLength(JNIEnv* /*env*/, jarray handle) {
  return static_cast<jsize>(ArrayArgument(handle, "GetArrayLength")->elements.size());
}

bool InBounds(const Object* array, jsize index) {
  if (index >= 0 && static_cast<std::size_t>(index) < array->elements.size()) return true;
  Throw("java/lang/ArrayIndexOutOfBoundsException", "Index " + std::to_string(index) +
                                                        " out of bounds for length " +
                                                        std::to_string(array->elements.size()));
  return false;
}

jobject JNICALL GetObjectArrayElement(JNIEnv* /*env*/, jobjectArray handle, jsize index) {
  Object* array = ArrayArgument(handle, "GetObjectArrayElement");
  if (!InBounds(array, index)) return nullptr;
  return ToHandle<jobject>(array->elements[static_cast<std::size_t>(index)]);
}

void JNICALL SetObjectArrayElement(JNIEnv* /*env*/, jobjectArray handle, jsize index,
                                   jobject valueHandle) {
  Object* array = ArrayArgument(handle, "SetObjectArrayElement");
  Object* value = FromHandle(valueHandle);
  if (!InBounds(array, index)) return;
  // The array's class is "[L<element>;"; only java/lang/Object takes objects of any class.
  const std::string& arrayClass = array->cls->text;
  const std::string element = arrayClass.substr(2, arrayClass.size() - 3);
  const std::string valueClass =
      value == nullptr || value->kind == Kind::kClass ? "java/lang/Class" : value->cls->text;
  if (value != nullptr && element != "java/lang/Object" && element != valueClass) {
    Throw("java/lang/ArrayStoreException", valueClass);
    return;
  }
  array->elements[static_cast<std::size_t>(index)] = value;
}

// References: every object lives for good, so a reference is the object itself.
jobject JNICALL NewGlobalRef(JNIEnv* /*env*/, jobject object) {
  return object;
}

void JNICALL DeleteGlobalRef(JNIEnv* /*env*/, jobject /*object*/) {}

void JNICALL DeleteLocalRef(JNIEnv* /*env*/, jobject /*object*/) {}

jobject JNICALL NewLocalRef(JNIEnv* /*env*/, jobject object) {
  return object;
}

jboolean JNICALL IsSameObject(JNIEnv* /*env*/, jobject first, jobject second) {
  return first == second ? JNI_TRUE : JNI_FALSE;
}

jint JNICALL EnsureLocalCapacity(JNIEnv* /*env*/, jint /*capacity*/) {
  return JNI_OK;
}

}  // namespace jni_env

// ---------------------------------------------------------------------------------------------
// The JavaVM functions

namespace jni_vm {

jint JNICALL DestroyJavaVM(JavaVM* /*javaVm*/) {
  std::unique_lock<std::mutex> lock(vmMutex);
  if (vm.keepsRunning) {
    // A real JVM waits here for the application's non-daemon threads, which never end.
    lock.unlock();
    for (;;) Sleep(INFINITE);
  }
  if (vm.recorded) {
    const auto out = vm.properties.find("probe.out");
    if (out != vm.properties.end()) WriteText(out->second, "destroyed\n", true);
  }
  vm.destroyed = true;
  return JNI_OK;
}

jint AttachTo(void** env);

jint JNICALL AttachCurrentThread(JavaVM* /*javaVm*/, void** env, void* /*args*/) {
  return AttachTo(env);
}

jint JNICALL AttachCurrentThreadAsDaemon(JavaVM* /*javaVm*/, void** env, void* /*args*/) {
  return AttachTo(env);
}

jint JNICALL DetachCurrentThread(JavaVM* /*javaVm*/) {
  attached = false;
  return JNI_OK;
}

jint JNICALL GetEnv(JavaVM* /*javaVm*/, void** env, jint version);

}  // namespace jni_vm

// ---------------------------------------------------------------------------------------------
// The function tables

// The slot of a table that the stand-in does not implement. Each slot gets its own instance, so
// the message names the slot (counted from 0 in the order of the table's members in jni.h).
template <typename Table>
const char* TableName();
template <>
const char* TableName<JNINativeInterface_>() {
  return "JNIEnv";
}
template <>
const char* TableName<JNIInvokeInterface_>() {
  return "JavaVM";
}

template <typename Table, std::size_t Slot>
void JNICALL Unimplemented() {
  std::fprintf(stderr,
               "steward's stand-in JVM: slot %u of the %s function table is not implemented\n",
               static_cast<unsigned>(Slot), TableName<Table>());
  std::fflush(stderr);
  std::abort();
}

template <typename Table, std::size_t... Slots>
void FillWithStubs(Table& table, std::index_sequence<Slots...> /*slots*/) {
  using Stub = void(JNICALL*)();
  static_assert(sizeof(Stub) == sizeof(void*), "a table slot holds one function pointer");
  static_assert(sizeof(Table) == sizeof(Stub) * sizeof...(Slots), "every slot is filled");
  const Stub stubs[] = {&Unimplemented<Table, Slots>...};
  std::memcpy(&table, stubs, sizeof stubs);
}

template <typename Table>
void FillWithStubs(Table& table) {
  FillWithStubs(table, std::make_index_sequence<sizeof(Table) / sizeof(void*)>());
}

JNINativeInterface_ MakeEnvTable() {
  JNINativeInterface_ table;
  FillWithStubs(table);
  table.GetVersion = jni_env::GetVersion;
  table.FindClass = jni_env::FindClass;
  table.GetObjectClass = jni_env::GetObjectClass;
  table.GetStaticMethodID = jni_env::GetStaticMethodID;
  table.GetMethodID = jni_env::GetMethodID;
  table.CallVoidMethod = jni_env::CallVoidMethod;
  table.CallVoidMethodV = jni_env::CallVoidMethodV;
  table.CallVoidMethodA = jni_env::CallVoidMethodA;
  table.CallStaticVoidMethod = jni_env::CallStaticVoidMethod;
  table.CallStaticVoidMethodV = jni_env::CallStaticVoidMethodV;
  table.CallStaticVoidMethodA = jni_env::CallStaticVoidMethodA;
  table.ExceptionCheck = jni_env::ExceptionCheck;
  table.ExceptionOccurred = jni_env::ExceptionOccurred;
  table.ExceptionClear = jni_env::ExceptionClear;
  table.ExceptionDescribe = jni_env::ExceptionDescribe;
  table.NewStringUTF = jni_env::NewStringUTF;
  table.NewString = jni_env::NewString;
  table.GetStringLength = jni_env::GetStringLength;
  table.GetStringUTFLength = jni_env::GetStringUTFLength;
  table.GetStringUTFChars = jni_env::GetStringUTFChars;
  table.ReleaseStringUTFChars = jni_env::ReleaseStringUTFChars;
  table.NewObjectArray = jni_env::NewObjectArray;
  table.GetArrayLength = jni_env::GetArrayLength;
  table.GetObjectArrayElement = jni_env::GetObjectArrayElement;
  table.SetObjectArrayElement = jni_env::SetObjectArrayElement;
  table.NewGlobalRef = jni_env::NewGlobalRef;
  table.DeleteGlobalRef = jni_env::DeleteGlobalRef;
  table.DeleteLocalRef = jni_env::DeleteLocalRef;
  table.NewLocalRef = jni_env::NewLocalRef;
  table.IsSameObject = jni_env::IsSameObject;
  table.EnsureLocalCapacity = jni_env::EnsureLocalCapacity;
  return table;
}

JNIInvokeInterface_ MakeVmTable() {
  JNIInvokeInterface_ table;
  FillWithStubs(table);
  table.DestroyJavaVM = jni_vm::DestroyJavaVM;
  table.AttachCurrentThread = jni_vm::AttachCurrentThread;
  table.DetachCurrentThread = jni_vm::DetachCurrentThread;
  table.GetEnv = jni_vm::GetEnv;
  table.AttachCurrentThreadAsDaemon = jni_vm::AttachCurrentThreadAsDaemon;
  return table;
}

const JNINativeInterface_ envTable = MakeEnvTable();
const JNIInvokeInterface_ vmTable = MakeVmTable();
JNIEnv theEnv = {&envTable};
JavaVM theVm = {&vmTable};

namespace jni_vm {

jint AttachTo(void** env) {
  if (env == nullptr) return JNI_EINVAL;
  attached = true;
  *env = &theEnv;
  return JNI_OK;
}

jint JNICALL GetEnv(JavaVM* /*javaVm*/, void** env, jint version) {
  if (env == nullptr) return JNI_EINVAL;
  *env = nullptr;
  if (version < JNI_VERSION_1_1 || version > JNI_VERSION_10) return JNI_EVERSION;
  if (!attached) return JNI_EDETACHED;
  *env = &theEnv;
  return JNI_OK;
}

}  // namespace jni_vm

}  // namespace

// ---------------------------------------------------------------------------------------------
// The exports

JNIEXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void* args) {
  const auto* init = static_cast<const JavaVMInitArgs*>(args);
  if (init == nullptr) return JNI_EINVAL;
  return init->version >= JNI_VERSION_1_2 ? JNI_OK : JNI_EVERSION;
}

JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** javaVm, void** env, void* args) {
  const auto* init = static_cast<const JavaVMInitArgs*>(args);
  if (javaVm == nullptr || env == nullptr || init == nullptr) return JNI_EINVAL;
  if (init->version < JNI_VERSION_1_2) return JNI_EVERSION;
  if (init->nOptions < 0 || (init->nOptions > 0 && init->options == nullptr)) return JNI_EINVAL;

  std::vector<std::string> options;
  std::map<std::string, std::string> properties;
  for (jint i = 0; i < init->nOptions; ++i) {
    const char* option = init->options[i].optionString;
    if (option == nullptr) return JNI_EINVAL;
    options.emplace_back(option);
    if (std::strncmp(option, "-D", 2) == 0) {
      const std::string setting = option + 2;
      const std::size_t equals = setting.find('=');
      properties[setting.substr(0, equals)] =
          equals == std::string::npos ? std::string() : setting.substr(equals + 1);
    } else if (std::strncmp(option, "-Xmx", 4) == 0 && !IsSize(option + 4)) {
      std::fprintf(stderr, "steward's stand-in JVM: %s names no heap size\n", option);
      std::fflush(stderr);
      return JNI_EINVAL;
    } else if (std::strncmp(option, "-X", 2) != 0 && init->ignoreUnrecognized != JNI_TRUE) {
      std::fprintf(stderr, "steward's stand-in JVM: unrecognized option: %s\n", option);
      std::fflush(stderr);
      return JNI_ERR;
    }
  }

  {
    std::lock_guard<std::mutex> lock(vmMutex);
    // One VM per process, and none after it was destroyed, as with a real JVM.
    if (vm.created) return vm.destroyed ? JNI_ERR : JNI_EEXIST;
    vm.created = true;
    vm.options = std::move(options);
    vm.properties = std::move(properties);
  }
  SetConsoleCtrlHandler(ConsoleHandler, TRUE);
  attached = true;
  *javaVm = &theVm;
  *env = &theEnv;
  return JNI_OK;
}

JNIEXPORT jint JNICALL JNI_GetCreatedJavaVMs(JavaVM** vms, jsize size, jsize* count) {
  std::lock_guard<std::mutex> lock(vmMutex);
  const bool exists = vm.created && !vm.destroyed;
  if (count != nullptr) *count = exists ? 1 : 0;
  if (exists && vms != nullptr && size > 0) vms[0] = &theVm;
  return JNI_OK;
}
