// The POSIX layer's text conversion, tried through MultiByteToWideChar as a caller uses it: a
// size query first, then the conversion into a buffer of that size.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32.h"

namespace {

// What one call gave: the units written, or the last error when it returned 0.
struct Outcome {
  std::u16string text;
  DWORD error = ERROR_SUCCESS;
  bool operator==(const Outcome& other) const { return text == other.text && error == other.error; }
};

std::ostream& operator<<(std::ostream& out, const Outcome& outcome) {
  out << "{";
  for (char16_t unit : outcome.text) out << " U+" << std::hex << static_cast<unsigned>(unit);
  return out << std::dec << " } error " << outcome.error;
}

Outcome Converted(const std::u16string& text) {
  return {text, ERROR_SUCCESS};
}
Outcome Failed(DWORD error) {
  return {u"", error};
}

// Asks for the size, converts into a buffer of exactly that size, and checks that both calls
// agree. A failing size query is the outcome.
Outcome Convert(UINT codePage, DWORD flags, const std::string& bytes, int length) {
  SetLastError(ERROR_SUCCESS);
  const int needed = MultiByteToWideChar(codePage, flags, bytes.c_str(), length, nullptr, 0);
  if (needed == 0) return Failed(GetLastError());
  std::vector<WCHAR> buffer(static_cast<size_t>(needed));
  const int written =
      MultiByteToWideChar(codePage, flags, bytes.c_str(), length, buffer.data(), needed);
  EXPECT_EQ(written, needed) << "the conversion wrote another count than the size query gave";
  if (written == 0) return Failed(GetLastError());
  return Converted(std::u16string(buffer.data(), static_cast<size_t>(written)));
}

TEST(TextTest, MultiByteToWideCharDecodesUtf8ByWindowsRules) {
  struct Case {
    const char* name;
    UINT codePage;
    DWORD flags;
    std::string bytes;
    int length;  // -1: up to and with the terminator
    Outcome expected;
  };
  const Case cases[] = {
      {"ASCII with its terminator", CP_UTF8, 0, "java", -1, Converted(std::u16string(u"java", 5))},
      {"a length without the terminator", CP_UTF8, 0, "java", 4, Converted(u"java")},
      {"an embedded NUL within the length", CP_UTF8, 0, std::string("a\0b", 3), 3,
       Converted(std::u16string(u"a\0b", 3))},
      {"Latin letters", CP_UTF8, 0, "Grüße", -1, Converted(std::u16string(u"Grüße", 6))},
      {"the ANSI code page is UTF-8", CP_ACP, 0, "Grüße", -1,
       Converted(std::u16string(u"Grüße", 6))},
      {"CJK", CP_ACP, MB_ERR_INVALID_CHARS, "日本", -1, Converted(std::u16string(u"日本", 3))},
      {"above U+FFFF: a surrogate pair", CP_UTF8, 0, "\xF0\x9F\x98\x80", 4,
       Converted(u"\xD83D\xDE00")},
      {"the last code point", CP_UTF8, MB_ERR_INVALID_CHARS, "\xF4\x8F\xBF\xBF", 4,
       Converted(u"\xDBFF\xDFFF")},
      {"an invalid byte becomes U+FFFD", CP_UTF8, 0,
       "a\xFF"
       "b",
       3,
       Converted(u"a\xFFFD"
                 "b")},
      {"each byte of a cut sequence becomes U+FFFD", CP_UTF8, 0,
       "\xE6\x97"
       "A",
       3,
       Converted(u"\xFFFD\xFFFD"
                 "A")},
      {"a sequence cut by the length", CP_UTF8, 0, "\xF0\x9F\x98\x80", 3,
       Converted(u"\xFFFD\xFFFD\xFFFD")},
      {"a lone continuation byte", CP_ACP, 0, "\x80", 1, Converted(u"\xFFFD")},
      {"an overlong form", CP_UTF8, 0, "\xC0\xAF", 2, Converted(u"\xFFFD\xFFFD")},
      {"an encoded surrogate", CP_UTF8, 0, "\xED\xA0\x80", 3, Converted(u"\xFFFD\xFFFD\xFFFD")},
      {"beyond U+10FFFF", CP_UTF8, 0, "\xF4\x90\x80\x80", 4,
       Converted(u"\xFFFD\xFFFD\xFFFD\xFFFD")},
      {"invalid bytes refused", CP_UTF8, MB_ERR_INVALID_CHARS,
       "a\xFF"
       "b",
       3, Failed(ERROR_NO_UNICODE_TRANSLATION)},
      {"a cut sequence refused", CP_ACP, MB_ERR_INVALID_CHARS, "\xE6\x97", -1,
       Failed(ERROR_NO_UNICODE_TRANSLATION)},
      {"an encoded surrogate refused", CP_UTF8, MB_ERR_INVALID_CHARS, "\xED\xA0\x80", 3,
       Failed(ERROR_NO_UNICODE_TRANSLATION)},
      {"another code page", 1252, 0, "java", -1, Failed(ERROR_INVALID_PARAMETER)},
      {"an unknown flag", CP_UTF8, 0x1, "java", -1, Failed(ERROR_INVALID_PARAMETER)},
      {"a length of 0", CP_UTF8, 0, "java", 0, Failed(ERROR_INVALID_PARAMETER)},
      {"a length below -1", CP_UTF8, 0, "java", -2, Failed(ERROR_INVALID_PARAMETER)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Convert(c.codePage, c.flags, c.bytes, c.length), c.expected) << c.name;
  }
}

TEST(TextTest, MultiByteToWideCharWritesNoFurtherThanTheBufferItIsGiven) {
  struct Case {
    const char* name;
    std::string bytes;
    int length;
    int wideLength;
    int result;
    DWORD error;  // when the result is 0
  };
  // "Grüße" needs six units with its terminator; "日😀" needs three, two of them a surrogate pair.
  const Case cases[] = {
      {"a size query writes nothing", "Grüße", -1, 0, 6, ERROR_SUCCESS},
      {"an exact fit", "Grüße", -1, 6, 6, ERROR_SUCCESS},
      {"one unit short: the terminator", "Grüße", -1, 5, 0, ERROR_INSUFFICIENT_BUFFER},
      {"one unit short: half a surrogate pair", "日😀", 7, 2, 0, ERROR_INSUFFICIENT_BUFFER},
      {"an exact fit of a surrogate pair", "日😀", 7, 3, 3, ERROR_SUCCESS},
  };
  constexpr WCHAR kUntouched = u'#';
  for (const Case& c : cases) {
    // The buffer is larger than the caller says, so that a write past its size shows.
    std::vector<WCHAR> buffer(16, kUntouched);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(
        MultiByteToWideChar(CP_UTF8, 0, c.bytes.c_str(), c.length, buffer.data(), c.wideLength),
        c.result)
        << c.name;
    if (c.result == 0) {
      EXPECT_EQ(GetLastError(), c.error) << c.name;
    }
    for (size_t index = static_cast<size_t>(c.wideLength); index < buffer.size(); ++index) {
      EXPECT_EQ(buffer[index], kUntouched) << c.name << ": unit " << index << " was written";
    }
  }
}

TEST(TextTest, MultiByteToWideCharRefusesMissingBuffers) {
  WCHAR buffer[8];
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, nullptr, -1, buffer, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "java", -1, nullptr, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "java", -1, buffer, -1), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(TextTest, TheTextOfNoUnicodeTranslationIsWindowsOwn) {
  char text[128];
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                                      ERROR_NO_UNICODE_TRANSLATION, 0, text, sizeof text, nullptr);
  EXPECT_EQ(std::string(text, length),
            "No mapping for the Unicode character exists in the target multi-byte code page.\r\n");
}

}  // namespace
