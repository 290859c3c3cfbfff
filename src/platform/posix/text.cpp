// Text conversion of the POSIX platform layer: MultiByteToWideChar from the ANSI code page, which
// is UTF-8 on a POSIX system, into UTF-16, with Windows' rules for lengths, buffers and malformed
// input. The Java host relies on it to hand program arguments to the JVM as Java strings, so every
// character a user can type has to arrive intact.
#include <climits>
#include <cstring>

#include "platform/win32.h"

namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

// Decodes the well-formed UTF-8 sequence that starts `text` (`size` bytes, at least one) into
// `code` and returns its length in bytes. Returns 0 when the first byte starts no well-formed
// sequence: a continuation byte, a byte that never occurs in UTF-8, a sequence cut short, an
// overlong form, an encoded surrogate or a value above U+10FFFF. The limits on the second byte
// are what rule out the last three.
size_t DecodeSequence(const unsigned char* text, size_t size, char32_t& code) {
  const unsigned char lead = text[0];
  if (lead < 0x80) {
    code = lead;
    return 1;
  }
  size_t length = 0;
  char32_t value = 0;
  unsigned char secondLow = 0x80;
  unsigned char secondHigh = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0Fu;
    if (lead == 0xE0) secondLow = 0xA0;   // below this the form is overlong
    if (lead == 0xED) secondHigh = 0x9F;  // above this lie the surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07u;
    if (lead == 0xF0) secondLow = 0x90;   // below this the form is overlong
    if (lead == 0xF4) secondHigh = 0x8F;  // above this lies U+110000 and beyond
  } else {
    return 0;
  }
  if (size < length) return 0;
  for (size_t index = 1; index < length; ++index) {
    const unsigned char next = text[index];
    const unsigned char low = index == 1 ? secondLow : 0x80;
    const unsigned char high = index == 1 ? secondHigh : 0xBF;
    if (next < low || next > high) return 0;
    value = (value << 6) | (next & 0x3Fu);
  }
  code = value;
  return length;
}

struct Conversion {
  size_t units = 0;      // UTF-16 code units the text needs
  bool invalid = false;  // whether some byte started no well-formed sequence
};

// Converts `size` bytes of UTF-8 to UTF-16. Each byte that starts no well-formed sequence becomes
// U+FFFD, as Windows replaces malformed input when the caller does not refuse it, and decoding
// resumes at the byte after it. Code points above U+FFFF become surrogate pairs. With `out` null
// only the units are counted; otherwise `out` must have room for every unit, which the caller
// learns from a counting pass first.
Conversion Convert(const unsigned char* text, size_t size, char16_t* out) {
  Conversion result;
  size_t position = 0;
  while (position < size) {
    char32_t code = 0;
    size_t length = DecodeSequence(text + position, size - position, code);
    if (length == 0) {
      result.invalid = true;
      code = kReplacementCharacter;
      length = 1;
    }
    position += length;
    if (code > 0xFFFF) {
      if (out != nullptr) {
        const char32_t offset = code - 0x10000;
        out[result.units] = static_cast<char16_t>(0xD800 + (offset >> 10));
        out[result.units + 1] = static_cast<char16_t>(0xDC00 + (offset & 0x3FF));
      }
      result.units += 2;
    } else {
      if (out != nullptr) out[result.units] = static_cast<char16_t>(code);
      result.units += 1;
    }
  }
  return result;
}

}  // namespace

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR wide,
                               int wideLength) {
  // The ANSI code page is UTF-8 here, so these are the only two code pages the layer can decode;
  // Windows refuses a code page it does not know with ERROR_INVALID_PARAMETER as well. The layer
  // knows no other flag, and refuses the rest rather than ignore what a caller asked for.
  if ((codePage != CP_ACP && codePage != CP_UTF8) || (flags & ~DWORD{MB_ERR_INVALID_CHARS}) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // Windows' argument rules: some text, a length of -1 (terminated) or above 0, a buffer whenever a
  // size is given, and a buffer that is not the text itself.
  if (text == nullptr || length == 0 || length < -1 || wideLength < 0 ||
      (wideLength > 0 && wide == nullptr) ||
      (wideLength > 0 && static_cast<const void*>(text) == static_cast<const void*>(wide))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }

  // A length of -1 takes the text up to its terminator, and the terminator with it: it is
  // converted and counted like any other character.
  const size_t size = length == -1 ? std::strlen(text) + 1 : static_cast<size_t>(length);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);

  const Conversion needed = Convert(bytes, size, nullptr);
  if (needed.invalid && (flags & MB_ERR_INVALID_CHARS) != 0) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  // Only a terminated text of more than 2 GiB can need more units than an int counts.
  if (needed.units > static_cast<size_t>(INT_MAX)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (wideLength == 0) return static_cast<int>(needed.units);
  if (needed.units > static_cast<size_t>(wideLength)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  Convert(bytes, size, wide);
  return static_cast<int>(needed.units);
}
