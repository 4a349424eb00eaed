#include "stream/text_decoding.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cstring>
#include <string>

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The first occurrence of `pattern` in [from, to), case-insensitively for
// ASCII letters; null when there is none.
const char* findNoCase(const char* from, const char* to, const char* pattern) {
  const std::size_t length = std::strlen(pattern);
  for (const char* at = from; at + length <= to; ++at) {
    std::size_t i = 0;
    while (i < length && lower(at[i]) == pattern[i]) ++i;
    if (i == length) return at;
  }
  return nullptr;
}

bool equalsNoCase(const char* from, const char* to, const char* word) {
  const std::size_t length = std::strlen(word);
  return static_cast<std::size_t>(to - from) == length && findNoCase(from, to, word) == from;
}

// The first occurrence of `pattern` in [from, to); null when there is none.
const char* find(const char* from, const char* to, const char* pattern) {
  const std::size_t length = std::strlen(pattern);
  for (const char* at = from; at + length <= to; ++at) {
    if (std::memcmp(at, pattern, length) == 0) return at;
  }
  return nullptr;
}

// Writes `code` as the parser writes a character into its UTF-8 text: one
// to three bytes below U+10000 (surrogates included), four bytes for
// anything above, even beyond U+10FFFF, where the lead byte takes the bits
// that fit and the value is not checked.
char* writeAsParserDoes(char* out, std::uint32_t code) {
  if (code < 0x80) {
    *out++ = static_cast<char>(code);
  } else if (code < 0x800) {
    *out++ = static_cast<char>(0xC0 | (code >> 6));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (code >> 12));
    *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (code >> 18));
    *out++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  }
  return out;
}

// The code unit of `width` bytes at `at`, in either byte order.
std::uint32_t codeUnit(const char* at, int width, bool bigEndian) {
  std::uint32_t unit = 0;
  for (int i = 0; i < width; ++i) {
    const auto byte = static_cast<unsigned char>(at[bigEndian ? i : width - 1 - i]);
    unit = (unit << 8) | byte;
  }
  return unit;
}

}  // namespace

bool surelyUtf8(const char* head, std::size_t headSize, std::size_t documentSize) {
  if (headSize < 4) return false;
  const auto byte = [head](std::size_t i) { return static_cast<unsigned char>(head[i]); };
  if (byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) return true;
  // Byte-order marks and the zero bytes of UTF-16 and UTF-32.
  if (byte(0) == 0xFE || byte(0) == 0xFF) return false;
  if (byte(0) == 0 || byte(1) == 0 || byte(2) == 0 || byte(3) == 0) return false;
  if (std::memcmp(head, "<?xm", 4) != 0) return true;

  // The parser takes the encoding from the declaration, looking no further
  // than its first '?' from the seventh byte on.
  const char* const headEnd = head + headSize;
  const char* end = headSize > 6 ? static_cast<const char*>(std::memchr(head + 6, '?', headSize - 6)) : nullptr;
  if (!end) {
    if (headSize < documentSize) return false;
    end = headEnd;
  }
  if (findNoCase(head, end, "latin1") || findNoCase(head, end, "8859")) return false;
  const char* at = find(head, end, "encoding");
  if (!at) return true;
  at += 8;
  while (at < end && isSpace(*at)) ++at;
  if (at == end || *at != '=') return false;
  ++at;
  while (at < end && isSpace(*at)) ++at;
  if (at == end || (*at != '"' && *at != '\'')) return false;
  const char quote = *at++;
  const char* const valueEnd = static_cast<const char*>(std::memchr(at, quote, static_cast<std::size_t>(end - at)));
  if (!valueEnd) return false;
  return equalsNoCase(at, valueEnd, "utf-8") || equalsNoCase(at, valueEnd, "utf8");
}

pugi::xml_encoding detectedEncoding(const char* head, std::size_t headSize, std::size_t documentSize) {
  if (headSize >= 4) {
    // The parser looks for the marks in this order, the longer ones first.
    const auto starts = [head](const char* mark, std::size_t size) { return std::memcmp(head, mark, size) == 0; };
    if (starts("\0\0\xFE\xFF", 4)) return pugi::encoding_utf32_be;
    if (starts("\xFF\xFE\0\0", 4)) return pugi::encoding_utf32_le;
    if (starts("\xFE\xFF", 2)) return pugi::encoding_utf16_be;
    if (starts("\xFF\xFE", 2)) return pugi::encoding_utf16_le;
  }
  return surelyUtf8(head, headSize, documentSize) ? pugi::encoding_utf8 : pugi::encoding_auto;
}

namespace {

// The parser's encoding name in the XML declaration that starts the `size`
// bytes at `data` ("<?xml" and a blank): the value of the first "en..." from
// the seventh byte on, if that is `encoding`, optional blanks, '=', optional
// blanks and a quoted run of name characters; the search stops at the first
// '?'. Empty when there is none.
std::string declaredEncoding(const char* data, std::size_t size) {
  const auto isNameByte = [](unsigned char c) {
    return c >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == ':' || c == '-' || c == '.';
  };
  if (size < 6 || std::memcmp(data, "<?xml", 5) != 0 || !isSpace(data[5])) return std::string();
  for (std::size_t i = 6; i + 1 < size; ++i) {
    if (data[i] == '?') return std::string();
    if (data[i] != 'e' || data[i + 1] != 'n') continue;
    std::size_t at = i;
    const auto take = [&](char c) { return at < size && data[at] == c ? (++at, true) : false; };
    for (const char* word = "encoding"; *word; ++word) {
      if (!take(*word)) return std::string();
    }
    while (at < size && isSpace(data[at])) ++at;
    if (!take('=')) return std::string();
    while (at < size && isSpace(data[at])) ++at;
    const char quote = at < size && data[at] == '"' ? '"' : '\'';
    if (!take(quote)) return std::string();
    const std::size_t start = at;
    while (at < size && isNameByte(static_cast<unsigned char>(data[at]))) ++at;
    const std::size_t end = at;
    if (!take(quote)) return std::string();
    return std::string(data + start, end - start);
  }
  return std::string();
}

}  // namespace

pugi::xml_encoding wholeDocumentEncoding(const char* data, std::size_t size) {
  if (size < 4) return pugi::encoding_utf8;
  const auto starts = [data](const char* mark, std::size_t length) { return std::memcmp(data, mark, length) == 0; };
  // In the parser's order: the marks, the longer ones first, then a '<' or
  // "<?" in the code units of each encoding.
  if (starts("\0\0\xFE\xFF", 4) || starts("\0\0\0<", 4)) return pugi::encoding_utf32_be;
  if (starts("\xFF\xFE\0\0", 4) || starts("<\0\0\0", 4)) return pugi::encoding_utf32_le;
  if (starts("\xFE\xFF", 2) || starts("\0<", 2)) return pugi::encoding_utf16_be;
  if (starts("\xFF\xFE", 2) || starts("<\0", 2)) return pugi::encoding_utf16_le;
  if (starts("\xEF\xBB\xBF", 3)) return pugi::encoding_utf8;
  const std::string name = declaredEncoding(data, size);
  // Latin letters match in either case, the other characters exactly.
  const auto named = [&name](const char* spelling) {
    if (name.size() != std::strlen(spelling)) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
      const bool letter = spelling[i] >= 'a' && spelling[i] <= 'z';
      if (letter ? (name[i] | ' ') != spelling[i] : name[i] != spelling[i]) return false;
    }
    return true;
  };
  return named("iso-8859-1") || named("latin1") ? pugi::encoding_latin1 : pugi::encoding_utf8;
}

ParserDecoder::ParserDecoder(pugi::xml_encoding encoding)
    : encoding_(encoding),
      width_(encoding == pugi::encoding_utf16_le || encoding == pugi::encoding_utf16_be   ? 2
             : encoding == pugi::encoding_utf32_le || encoding == pugi::encoding_utf32_be ? 4
                                                                                          : 1),
      bigEndian_(encoding == pugi::encoding_utf16_be || encoding == pugi::encoding_utf32_be) {}

std::size_t ParserDecoder::maxOutput(std::size_t size) const {
  if (width_ == 1) return encoding_ == pugi::encoding_latin1 ? 2 * size : size;
  return (size / static_cast<std::size_t>(width_) + 2) * 4;
}

std::size_t ParserDecoder::decode(const char* data, std::size_t size, bool last, char* out) {
  char* o = out;
  if (width_ == 1) {
    if (encoding_ != pugi::encoding_latin1) {
      std::memcpy(out, data, size);
      return size;
    }
    for (std::size_t i = 0; i < size; ++i) o = writeAsParserDoes(o, static_cast<unsigned char>(data[i]));
    return static_cast<std::size_t>(o - out);
  }

  const auto put = [&](std::uint32_t unit) {
    if (width_ == 4) {
      o = writeAsParserDoes(o, unit);
      return;
    }
    if (highSurrogate_ != 0) {
      const std::uint32_t high = highSurrogate_;
      highSurrogate_ = 0;
      if (unit >= 0xDC00 && unit < 0xE000) {
        o = writeAsParserDoes(o, 0x10000 + ((high & 0x3FF) << 10) + (unit & 0x3FF));
        return;
      }
      // The high surrogate is dropped; this unit stands on its own.
    }
    if (unit < 0xD800 || unit >= 0xE000) {
      o = writeAsParserDoes(o, unit);
    } else if (unit < 0xDC00) {
      highSurrogate_ = unit;
    }
  };

  const char* p = data;
  const char* const end = data + size;
  if (partialSize_ > 0) {
    const std::size_t take =
        std::min(static_cast<std::size_t>(width_ - partialSize_), static_cast<std::size_t>(end - p));
    std::memcpy(partial_ + partialSize_, p, take);
    partialSize_ += static_cast<int>(take);
    p += take;
    if (partialSize_ == width_) {
      put(codeUnit(partial_, width_, bigEndian_));
      partialSize_ = 0;
    }
  }
  const int width = width_;
  const std::size_t units = static_cast<std::size_t>(end - p) / static_cast<std::size_t>(width);
  if (width == 2) {
#if defined(__SSE2__)
    const __m128i nonAscii = _mm_set1_epi16(static_cast<short>(0xFF80));
#endif
    for (std::size_t i = 0; i < units;) {
#if defined(__SSE2__)
      // Most of a block is ASCII: eight units at a time where they all are.
      if (highSurrogate_ == 0 && units - i >= 8) {
        __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        if (bigEndian_) eight = _mm_or_si128(_mm_slli_epi16(eight, 8), _mm_srli_epi16(eight, 8));
        const __m128i ascii = _mm_cmpeq_epi16(_mm_and_si128(eight, nonAscii), _mm_setzero_si128());
        if (_mm_movemask_epi8(ascii) == 0xFFFF) {
          _mm_storel_epi64(reinterpret_cast<__m128i*>(o), _mm_packus_epi16(eight, eight));
          o += 8;
          p += 16;
          i += 8;
          continue;
        }
      }
#endif
      put(codeUnit(p, 2, bigEndian_));
      ++i;
      p += 2;
    }
  } else {
    for (std::size_t i = 0; i < units; ++i, p += 4) put(codeUnit(p, 4, bigEndian_));
  }
  // Fewer bytes than a unit are left (partialSize_ is 0 when units were read).
  std::memcpy(partial_ + partialSize_, p, static_cast<std::size_t>(end - p));
  partialSize_ += static_cast<int>(end - p);
  if (last) {
    // What is left is no whole unit, or a high surrogate without a partner.
    partialSize_ = 0;
    highSurrogate_ = 0;
  }
  return static_cast<std::size_t>(o - out);
}

QByteArray parserText(const QByteArray& raw, pugi::xml_encoding encoding) {
  if (encoding != pugi::encoding_utf16_le && encoding != pugi::encoding_utf16_be &&
      encoding != pugi::encoding_utf32_le && encoding != pugi::encoding_utf32_be && encoding != pugi::encoding_latin1) {
    return raw;
  }
  ParserDecoder decoder(encoding);
  const auto size = static_cast<std::size_t>(raw.size());
  QByteArray text(static_cast<int>(decoder.maxOutput(size)), Qt::Uninitialized);
  text.truncate(static_cast<int>(decoder.decode(raw.constData(), size, true, text.data())));
  return text;
}
