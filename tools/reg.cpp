// steward-reg: reads and writes the registry with the syntax, output and exit codes of Windows'
// `reg` for its query, add and delete operations.
//
// One end-to-end test suite checks every build of steward through this tool: natively it reads
// the store of the project's platform layer, and built for Windows it reads Wine's registry (or
// Windows' own), where its output can be compared line for line with what `reg` prints. So the
// output follows reg's layout and wording, and the tool uses only the ANSI registry functions that
// platform/win32.h provides on every system.
//
// Behaviour worth knowing:
//   - `add KEY` without /v or /ve writes the key's default value (empty unless /d is given), as
//     reg does.
//   - Writing over an existing value, or deleting anything, asks first unless /f is given. The
//     answer is read from standard input: a line starting with y or n decides and any other line
//     asks again. The end of the input counts as No, so that a run without a usable input never
//     changes what it was not told to change; a No prints a cancellation notice and exits 1.
//   - `query /v NAME` prints the value name as it was typed; listing a key prints the names as
//     they are stored. Values and subkeys are printed in the registry's enumeration order.
//   - `query /s` with /v or /ve searches the whole subtree and ends with a count of matches;
//     finding none is a failure (exit 1).
//   - REG_NONE data given with /d is stored as text with its terminator, as reg stores it.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32.h"

namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

constexpr char kCompleted[] = "The operation completed successfully.";
constexpr char kCancelled[] = "The operation was canceled by the user.";
constexpr char kNotFound[] =
    "ERROR: The system was unable to find the specified registry key or value.";
constexpr char kIndent[] = "    ";

// The registry never holds names longer than this (in characters); a buffer that keeps growing
// past it means the call can never succeed.
constexpr size_t kLongestName = 65536;
// The largest value this tool is prepared to read.
constexpr size_t kLargestData = size_t{1} << 30;

// ---- Failures.

// A failure that ends the run: its text goes to standard error and the exit code is 1.
struct Failure {
  std::string text;
};

[[noreturn]] void Fail(std::string text) {
  throw Failure{std::move(text)};
}

// The failure for a registry call's status: a missing key or value gets reg's own wording,
// anything else the system's text for the code.
[[noreturn]] void FailWith(LSTATUS status) {
  const DWORD code = static_cast<DWORD>(status);
  if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) Fail(kNotFound);
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  std::string message;
  if (length != 0 && text != nullptr) message.assign(text, length);
  if (text != nullptr) LocalFree(text);
  // System texts end in a line break; reg prints them on one line of their own.
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  if (message.empty()) message = "Error " + std::to_string(code);
  Fail("ERROR: " + message + ".");
}

void Check(LSTATUS status) {
  if (status != ERROR_SUCCESS) FailWith(status);
}

// reg's answer to a command line it cannot read, naming the usage to look at.
[[noreturn]] void FailSyntax(const std::string& operation, const std::string& detail = "") {
  const std::string usage = operation.empty() ? "REG" : "REG " + operation;
  Fail("ERROR: Invalid syntax." + detail + "\nType \"" + usage + " /?\" for usage.");
}

// ---- Output.

void Print(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

void PrintLine(const std::string& text) {
  Print(text + "\n");
}

// ---- Keys.

// An open key, closed when the holder goes away, whichever road the code takes.
class Key {
 public:
  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  PHKEY out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// Opens `path` under `parent`; a missing key is reg's "unable to find" failure.
void Open(HKEY parent, const std::string& path, REGSAM access, Key* key) {
  Check(RegOpenKeyExA(parent, path.c_str(), 0, access, key->out()));
}

// A key as given on the command line: its predefined root and the path below it.
struct KeyName {
  HKEY root = nullptr;
  std::string path;  // without a trailing backslash; empty for the root itself
  std::string full;  // as reg prints it, with the root's long name
};

bool MatchesRoot(const std::string& token, const char* shortName, const char* longName) {
  return _stricmp(token.c_str(), shortName) == 0 || _stricmp(token.c_str(), longName) == 0;
}

// Reads KEY as reg does: a root by its short or long name, then the path as typed.
KeyName ParseKey(const std::string& text, const std::string& operation) {
  const size_t slash = text.find('\\');
  const std::string token = text.substr(0, slash);
  KeyName name;
  std::string rootName;
  if (MatchesRoot(token, "HKLM", "HKEY_LOCAL_MACHINE")) {
    name.root = HKEY_LOCAL_MACHINE;
    rootName = "HKEY_LOCAL_MACHINE";
  } else if (MatchesRoot(token, "HKCU", "HKEY_CURRENT_USER")) {
    name.root = HKEY_CURRENT_USER;
    rootName = "HKEY_CURRENT_USER";
  } else if (MatchesRoot(token, "HKCR", "HKEY_CLASSES_ROOT")) {
    name.root = HKEY_CLASSES_ROOT;
    rootName = "HKEY_CLASSES_ROOT";
  } else if (MatchesRoot(token, "HKU", "HKEY_USERS")) {
    name.root = HKEY_USERS;
    rootName = "HKEY_USERS";
  } else {
    Fail("ERROR: Invalid key name.\nType \"REG " + operation + " /?\" for usage.");
  }
  if (slash != std::string::npos) name.path = text.substr(slash + 1);
  while (!name.path.empty() && name.path.back() == '\\') name.path.pop_back();
  name.full = name.path.empty() ? rootName : rootName + "\\" + name.path;
  return name;
}

// ---- Reading.

struct Value {
  std::string name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

// A length the registry reported, never past the buffer it was written to.
size_t Clamp(DWORD reported, size_t capacity) {
  return size_t{reported} < capacity ? size_t{reported} : capacity;
}

// The names of a key's subkeys, in the registry's order.
std::vector<std::string> ReadSubkeys(HKEY key) {
  std::vector<std::string> names;
  std::vector<char> buffer(256);
  for (DWORD index = 0;;) {
    DWORD size = static_cast<DWORD>(buffer.size());
    const LSTATUS status =
        RegEnumKeyExA(key, index, buffer.data(), &size, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status == ERROR_MORE_DATA && buffer.size() < kLongestName) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    Check(status);
    names.emplace_back(buffer.data(), Clamp(size, buffer.size()));
    ++index;
  }
  return names;
}

// Grows a buffer for another try after ERROR_MORE_DATA; false when it cannot grow any further.
bool Grow(std::vector<BYTE>* data, DWORD needed) {
  if (data->size() >= kLargestData) return false;
  size_t size = data->size() * 2;
  if (size < size_t{needed} + 2) size = size_t{needed} + 2;
  data->resize(size < kLargestData ? size : kLargestData);
  return true;
}

// Every value of a key, in the registry's order.
std::vector<Value> ReadValues(HKEY key) {
  DWORD longestName = 0;
  DWORD largestData = 0;
  Check(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &longestName, &largestData, nullptr, nullptr));
  // Room for a terminator and for strings that the ANSI conversion makes longer than counted.
  std::vector<char> name(size_t{longestName} * 2 + 2);
  std::vector<BYTE> data(size_t{largestData} + 2);
  std::vector<Value> values;
  for (DWORD index = 0;;) {
    DWORD nameSize = static_cast<DWORD>(name.size());
    DWORD dataSize = static_cast<DWORD>(data.size());
    DWORD type = REG_NONE;
    const LSTATUS status =
        RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status == ERROR_MORE_DATA) {
      // Either buffer may be the short one: the value may have changed since the key was asked.
      const bool grewName = name.size() < kLongestName;
      if (grewName) name.resize(name.size() * 2);
      if (!Grow(&data, dataSize) && !grewName) Check(status);
      continue;
    }
    Check(status);
    Value value;
    value.name.assign(name.data(), Clamp(nameSize, name.size()));
    value.type = type;
    value.data.assign(data.begin(), data.begin() + Clamp(dataSize, data.size()));
    values.push_back(std::move(value));
    ++index;
  }
  return values;
}

// One named value of a key; false when the key has no such value.
bool ReadValue(HKEY key, const std::string& name, Value* value) {
  std::vector<BYTE> data(256);
  for (;;) {
    DWORD size = static_cast<DWORD>(data.size());
    DWORD type = REG_NONE;
    const LSTATUS status = RegQueryValueExA(key, name.c_str(), nullptr, &type, data.data(), &size);
    if (status == ERROR_FILE_NOT_FOUND) return false;
    if (status == ERROR_MORE_DATA && Grow(&data, size)) continue;
    Check(status);
    value->name = name;
    value->type = type;
    value->data.assign(data.begin(), data.begin() + Clamp(size, data.size()));
    return true;
  }
}

bool HasValue(HKEY key, const std::string& name) {
  const LSTATUS status = RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr, nullptr);
  if (status == ERROR_FILE_NOT_FOUND) return false;
  Check(status);
  return true;
}

// ---- Formatting, as reg prints values.

std::string TypeName(DWORD type) {
  static const char* const kNames[] = {"REG_NONE",
                                       "REG_SZ",
                                       "REG_EXPAND_SZ",
                                       "REG_BINARY",
                                       "REG_DWORD",
                                       "REG_DWORD_BIG_ENDIAN",
                                       "REG_LINK",
                                       "REG_MULTI_SZ",
                                       "REG_RESOURCE_LIST",
                                       "REG_FULL_RESOURCE_DESCRIPTOR",
                                       "REG_RESOURCE_REQUIREMENTS_LIST",
                                       "REG_QWORD"};
  if (type < sizeof kNames / sizeof kNames[0]) return kNames[type];
  return "0x" + std::to_string(type);
}

std::string Hex(uint64_t number) {
  static const char kDigits[] = "0123456789abcdef";
  std::string digits;
  do {
    digits.insert(digits.begin(), kDigits[number & 0xF]);
    number >>= 4;
  } while (number != 0);
  return "0x" + digits;
}

std::string HexBytes(const std::vector<BYTE>& data) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(data.size() * 2);
  for (const BYTE byte : data) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  return text;
}

uint64_t LittleEndian(const std::vector<BYTE>& data) {
  uint64_t number = 0;
  for (size_t i = data.size(); i > 0; --i) number = (number << 8) | data[i - 1];
  return number;
}

// A string value's text: its bytes up to the terminator, which the data may or may not hold.
std::string Text(const std::vector<BYTE>& data, size_t start = 0) {
  std::string text;
  for (size_t i = start; i < data.size() && data[i] != 0; ++i) text += static_cast<char>(data[i]);
  return text;
}

std::string FormatData(DWORD type, const std::vector<BYTE>& data) {
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return Text(data);
    case REG_MULTI_SZ: {
      // The strings, each ended by a terminator, up to an empty one or the end of the data.
      std::string text;
      for (size_t start = 0; start < data.size() && data[start] != 0;) {
        const std::string item = Text(data, start);
        if (start != 0) text += "\\0";
        text += item;
        start += item.size() + 1;
      }
      return text;
    }
    case REG_DWORD:
      if (data.size() == 4) return Hex(LittleEndian(data));
      return HexBytes(data);
    case REG_QWORD:
      if (data.size() == 8) return Hex(LittleEndian(data));
      return HexBytes(data);
    default:
      return HexBytes(data);
  }
}

std::string DisplayName(const std::string& name) {
  return name.empty() ? "(Default)" : name;
}

std::string ValueLine(const Value& value) {
  return kIndent + DisplayName(value.name) + kIndent + TypeName(value.type) + kIndent +
         FormatData(value.type, value.data);
}

// ---- Asking.

// Asks a Yes/No question on the console and reads the answer from standard input. A line that
// starts with y or n answers; any other line asks again; the end of the input means No, so that a
// run without a usable input never changes anything it was not told to change.
bool Confirm(const std::string& question) {
  for (;;) {
    Print(question + " ");
    std::fflush(stdout);
    std::string answer;
    int c = 0;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n') {
      if (answer.size() < 16) answer += static_cast<char>(c);
    }
    const size_t first = answer.find_first_not_of(" \t\r");
    if (first != std::string::npos) {
      const char letter = answer[first];
      if (letter == 'y' || letter == 'Y') return true;
      if (letter == 'n' || letter == 'N') return false;
    }
    if (c == EOF) return false;
  }
}

int Cancelled() {
  PrintLine(kCancelled);
  return kFailure;
}

// ---- The command line.

enum class Operation { kQuery, kAdd, kDelete };

const char* OperationName(Operation operation) {
  switch (operation) {
    case Operation::kQuery:
      return "QUERY";
    case Operation::kAdd:
      return "ADD";
    case Operation::kDelete:
      return "DELETE";
  }
  return "";
}

struct Options {
  bool help = false;
  KeyName key;
  bool named = false;  // /v NAME
  std::string name;
  bool unnamed = false;    // /ve
  bool allValues = false;  // /va
  bool recurse = false;    // /s in query
  bool force = false;      // /f
  bool typed = false;      // /t TYPE
  std::string type;
  bool separated = false;  // /s SEPARATOR in add
  std::string separator;
  bool withData = false;  // /d DATA
  std::string data;
};

// Whether an argument is an option (reg takes both /x and -x) with this name.
bool IsOption(const std::string& argument, const char* name) {
  return argument.size() > 1 && (argument[0] == '/' || argument[0] == '-') &&
         _stricmp(argument.c_str() + 1, name) == 0;
}

// Reads the arguments after the operation. The key comes first; the options follow in any
// order, each at most once.
Options ParseOptions(Operation operation, const std::vector<std::string>& arguments) {
  const std::string opName = OperationName(operation);
  Options options;
  for (const std::string& argument : arguments) {
    if (IsOption(argument, "?")) {
      options.help = true;
      return options;
    }
  }
  if (arguments.empty() || arguments[0].empty() || arguments[0][0] == '/' ||
      arguments[0][0] == '-') {
    FailSyntax(opName);
  }
  options.key = ParseKey(arguments[0], opName);

  // Sets a flag that may be given once only.
  auto once = [&](bool* flag) {
    if (*flag) FailSyntax(opName);
    *flag = true;
  };
  // Takes the argument that follows an option.
  size_t i = 1;
  auto next = [&](std::string* into) {
    if (i + 1 >= arguments.size()) FailSyntax(opName);
    *into = arguments[++i];
  };
  for (; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (IsOption(argument, "v")) {
      once(&options.named);
      next(&options.name);
    } else if (IsOption(argument, "ve")) {
      once(&options.unnamed);
    } else if (IsOption(argument, "f") && operation != Operation::kQuery) {
      once(&options.force);
    } else if (IsOption(argument, "s") && operation == Operation::kQuery) {
      once(&options.recurse);
    } else if (IsOption(argument, "va") && operation == Operation::kDelete) {
      once(&options.allValues);
    } else if (IsOption(argument, "t") && operation == Operation::kAdd) {
      once(&options.typed);
      next(&options.type);
    } else if (IsOption(argument, "s") && operation == Operation::kAdd) {
      once(&options.separated);
      next(&options.separator);
      if (options.separator.size() != 1) FailSyntax(opName);
    } else if (IsOption(argument, "d") && operation == Operation::kAdd) {
      once(&options.withData);
      next(&options.data);
    } else {
      FailSyntax(opName);
    }
  }
  if (int{options.named} + int{options.unnamed} + int{options.allValues} > 1) FailSyntax(opName);
  return options;
}

// ---- Usage.

void PrintUsage() {
  Print(
      "\n"
      "REG Operation [Parameter List]\n"
      "\n"
      "  Operation  [ QUERY | ADD | DELETE ]\n"
      "\n"
      "Return Code:\n"
      "\n"
      "  0 - Successful\n"
      "  1 - Failed\n"
      "\n"
      "For help on a specific operation type:\n"
      "\n"
      "  REG Operation /?\n"
      "\n");
}

constexpr char kKeyHelp[] =
    "  KeyName    ROOTKEY\\SubKey\n"
    "    ROOTKEY  [ HKLM | HKCU | HKCR | HKU ], or the long names such as HKEY_LOCAL_MACHINE\n"
    "    SubKey   The full name of a registry key under the selected ROOTKEY.\n"
    "\n";

void PrintUsage(Operation operation) {
  switch (operation) {
    case Operation::kQuery:
      Print("\nREG QUERY KeyName [/v ValueName | /ve] [/s]\n\n" + std::string(kKeyHelp) +
            "  /v         Queries the value named ValueName.\n"
            "  /ve        Queries the default value (the value without a name).\n"
            "  /s         Queries all subkeys and values recursively; with /v or /ve, searches\n"
            "             every subkey for the value.\n\n");
      return;
    case Operation::kAdd:
      Print(
          "\nREG ADD KeyName [/v ValueName | /ve] [/t Type] [/s Separator] [/d Data] [/f]\n\n" +
          std::string(kKeyHelp) +
          "  /v         The value name to add under the selected key.\n"
          "  /ve        Adds the default value (the value without a name).\n"
          "  /t         The data type: [ REG_SZ | REG_MULTI_SZ | REG_EXPAND_SZ | REG_DWORD |\n"
          "             REG_QWORD | REG_BINARY | REG_NONE ]. The default is REG_SZ.\n"
          "  /s         The one character that separates the strings of REG_MULTI_SZ data.\n"
          "             The default is \"\\0\".\n"
          "  /d         The data: numbers in decimal or 0x hexadecimal, REG_BINARY as hex digits.\n"
          "  /f         Overwrites an existing value without asking.\n\n");
      return;
    case Operation::kDelete:
      Print("\nREG DELETE KeyName [/v ValueName | /ve | /va] [/f]\n\n" + std::string(kKeyHelp) +
            "  /v         Deletes the value named ValueName.\n"
            "  /ve        Deletes the default value (the value without a name).\n"
            "  /va        Deletes every value under the key.\n"
            "  /f         Deletes without asking.\n"
            "Without /v, /ve or /va the key is deleted with all its subkeys.\n\n");
      return;
  }
}

// ---- Query.

// Prints a key, its values and then the same for every subkey below it.
void ListTree(HKEY key, const std::string& full) {
  PrintLine(full);
  for (const Value& value : ReadValues(key)) PrintLine(ValueLine(value));
  PrintLine("");
  for (const std::string& subkey : ReadSubkeys(key)) {
    Key child;
    Open(key, subkey, KEY_READ, &child);
    ListTree(child.get(), full + "\\" + subkey);
  }
}

// Prints every key of the tree that holds the value `name`; returns how many did.
size_t SearchTree(HKEY key, const std::string& full, const std::string& name) {
  size_t matches = 0;
  Value value;
  if (ReadValue(key, name, &value)) {
    PrintLine(full);
    PrintLine(ValueLine(value));
    PrintLine("");
    ++matches;
  }
  for (const std::string& subkey : ReadSubkeys(key)) {
    Key child;
    Open(key, subkey, KEY_READ, &child);
    matches += SearchTree(child.get(), full + "\\" + subkey, name);
  }
  return matches;
}

int Query(const Options& options) {
  Key key;
  Open(options.key.root, options.key.path, KEY_READ, &key);
  const std::string& full = options.key.full;

  if (options.named || options.unnamed) {
    const std::string name = options.named ? options.name : "";
    if (options.recurse) {
      PrintLine("");
      const size_t matches = SearchTree(key.get(), full, name);
      PrintLine("End of search: " + std::to_string(matches) + " match(es) found.");
      return matches > 0 ? kSuccess : kFailure;
    }
    Value value;
    const bool found = ReadValue(key.get(), name, &value);
    if (!found) {
      // A key always has a default value to show, set or not.
      if (!name.empty()) Fail(kNotFound);
      value.type = REG_SZ;
    }
    std::string line = ValueLine(value);
    if (!found) line += "(value not set)";
    PrintLine("");
    PrintLine(full);
    PrintLine(line);
    PrintLine("");
    return kSuccess;
  }

  PrintLine("");
  if (options.recurse) {
    ListTree(key.get(), full);
    return kSuccess;
  }
  const std::vector<Value> values = ReadValues(key.get());
  if (!values.empty()) {
    PrintLine(full);
    for (const Value& value : values) PrintLine(ValueLine(value));
    PrintLine("");
  }
  for (const std::string& subkey : ReadSubkeys(key.get())) PrintLine(full + "\\" + subkey);
  return kSuccess;
}

// ---- Add.

// A number given with /d: decimal, or hexadecimal after 0x; false when it is not one or does
// not fit in `bits`.
bool ParseNumber(const std::string& text, int bits, uint64_t* number) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const size_t start = hex ? 2 : 0;
  if (text.size() == start) return false;
  const uint64_t limit = bits == 64 ? UINT64_MAX : (uint64_t{1} << bits) - 1;
  const uint64_t base = hex ? 16 : 10;
  uint64_t result = 0;
  for (size_t i = start; i < text.size(); ++i) {
    const char c = text[i];
    uint64_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint64_t>(c - '0');
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = static_cast<uint64_t>(c - 'a' + 10);
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = static_cast<uint64_t>(c - 'A' + 10);
    } else {
      return false;
    }
    if (result > (limit - digit) / base) return false;
    result = result * base + digit;
  }
  *number = result;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The bytes a value of `type` holds for the data given on the command line.
std::vector<BYTE> EncodeData(const Options& options, DWORD type) {
  std::vector<BYTE> bytes;
  const std::string& data = options.data;
  auto appendText = [&](const std::string& text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
  };
  switch (type) {
    case REG_DWORD:
    case REG_QWORD: {
      const int bits = type == REG_DWORD ? 32 : 64;
      uint64_t number = 0;
      if (!options.withData || !ParseNumber(data, bits, &number)) {
        FailSyntax("ADD", " Specify valid numeric value for '/d'.");
      }
      for (int shift = 0; shift < bits; shift += 8) {
        bytes.push_back(static_cast<BYTE>((number >> shift) & 0xFF));
      }
      return bytes;
    }
    case REG_BINARY: {
      // An odd count of digits gives the first byte from the first digit alone.
      size_t i = 0;
      if (data.size() % 2 == 1) {
        const int digit = HexDigit(data[0]);
        if (digit < 0) FailSyntax("ADD", " Specify valid hexadecimal value for '/d'.");
        bytes.push_back(static_cast<BYTE>(digit));
        i = 1;
      }
      for (; i < data.size(); i += 2) {
        const int high = HexDigit(data[i]);
        const int low = HexDigit(data[i + 1]);
        if (high < 0 || low < 0) FailSyntax("ADD", " Specify valid hexadecimal value for '/d'.");
        bytes.push_back(static_cast<BYTE>(high * 16 + low));
      }
      return bytes;
    }
    case REG_MULTI_SZ: {
      // The strings, each ended by a terminator, and one more terminator to end the list. A
      // separator at the very end is allowed; an empty string inside the list is not, since it
      // would end the list early.
      const std::string separator = options.separated ? options.separator : "\\0";
      size_t start = 0;
      while (start < data.size()) {
        size_t end = data.find(separator, start);
        if (end == std::string::npos) end = data.size();
        if (end == start) FailSyntax("ADD");
        appendText(data.substr(start, end - start));
        start = end == data.size() ? end : end + separator.size();
      }
      bytes.push_back(0);
      return bytes;
    }
    default:
      // REG_SZ, REG_EXPAND_SZ and REG_NONE: the text with its terminator.
      appendText(data);
      return bytes;
  }
}

DWORD ParseType(const Options& options) {
  if (!options.typed) return REG_SZ;
  static const struct {
    const char* name;
    DWORD type;
  } kTypes[] = {
      {"REG_SZ", REG_SZ},       {"REG_MULTI_SZ", REG_MULTI_SZ}, {"REG_EXPAND_SZ", REG_EXPAND_SZ},
      {"REG_DWORD", REG_DWORD}, {"REG_QWORD", REG_QWORD},       {"REG_BINARY", REG_BINARY},
      {"REG_NONE", REG_NONE}};
  for (const auto& known : kTypes) {
    if (_stricmp(options.type.c_str(), known.name) == 0) return known.type;
  }
  FailSyntax("ADD");
}

int Add(const Options& options) {
  const DWORD type = ParseType(options);
  const std::vector<BYTE> data = EncodeData(options, type);
  const std::string name = options.named ? options.name : "";

  Key key;
  Check(RegCreateKeyExA(options.key.root, options.key.path.c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr,
                        key.out(), nullptr));
  if (!options.force && HasValue(key.get(), name) &&
      !Confirm("Value " + DisplayName(name) + " exists, overwrite(Yes/No)?")) {
    return Cancelled();
  }
  Check(RegSetValueExA(key.get(), name.c_str(), 0, type, data.data(),
                       static_cast<DWORD>(data.size())));
  PrintLine(kCompleted);
  return kSuccess;
}

// ---- Delete.

// Deletes `path` under `parent` with every key below it, the deepest first, since a key that
// still has subkeys cannot be deleted.
void DeleteTree(HKEY parent, const std::string& path) {
  {
    Key key;
    Open(parent, path, KEY_READ, &key);
    for (const std::string& subkey : ReadSubkeys(key.get())) DeleteTree(key.get(), subkey);
  }
  Check(RegDeleteKeyA(parent, path.c_str()));
}

int Delete(const Options& options) {
  const KeyName& target = options.key;
  if (options.named || options.unnamed || options.allValues) {
    Key key;
    Open(target.root, target.path, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
    if (options.allValues) {
      if (!options.force &&
          !Confirm("Delete all values under the registry key " + target.full + " (Yes/No)?")) {
        return Cancelled();
      }
      for (const Value& value : ReadValues(key.get())) {
        Check(RegDeleteValueA(key.get(), value.name.c_str()));
      }
    } else {
      const std::string name = options.named ? options.name : "";
      if (!HasValue(key.get(), name)) Fail(kNotFound);
      if (!options.force &&
          !Confirm("Delete the registry value " + DisplayName(name) + " (Yes/No)?")) {
        return Cancelled();
      }
      Check(RegDeleteValueA(key.get(), name.c_str()));
    }
    PrintLine(kCompleted);
    return kSuccess;
  }

  // A predefined root cannot be deleted.
  if (target.path.empty()) Fail("ERROR: Invalid key name.\nType \"REG DELETE /?\" for usage.");
  {
    Key key;
    Open(target.root, target.path, KEY_READ, &key);
  }
  if (!options.force &&
      !Confirm("Permanently delete the registry key " + target.full + " (Yes/No)?")) {
    return Cancelled();
  }
  DeleteTree(target.root, target.path);
  PrintLine(kCompleted);
  return kSuccess;
}

int Run(int argc, char** argv) {
  if (argc < 2) FailSyntax("");
  const std::string operation = argv[1];
  if (IsOption(operation, "?")) {
    PrintUsage();
    return kSuccess;
  }
  Operation chosen;
  if (_stricmp(operation.c_str(), "QUERY") == 0) {
    chosen = Operation::kQuery;
  } else if (_stricmp(operation.c_str(), "ADD") == 0) {
    chosen = Operation::kAdd;
  } else if (_stricmp(operation.c_str(), "DELETE") == 0) {
    chosen = Operation::kDelete;
  } else {
    FailSyntax("");
  }

  const Options options = ParseOptions(chosen, std::vector<std::string>(argv + 2, argv + argc));
  if (options.help) {
    PrintUsage(chosen);
    return kSuccess;
  }
  switch (chosen) {
    case Operation::kQuery:
      return Query(options);
    case Operation::kAdd:
      return Add(options);
    case Operation::kDelete:
      return Delete(options);
  }
  return kFailure;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const Failure& failure) {
    std::fflush(stdout);
    std::fputs((failure.text + "\n").c_str(), stderr);
    return kFailure;
  } catch (const std::exception&) {
    std::fflush(stdout);
    std::fputs("ERROR: Not enough memory resources are available to process this command.\n",
               stderr);
    return kFailure;
  }
}
