#include "reader/document_text.h"

#include <atomic>
#include <cstring>
#include <thread>

namespace {

bool isNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }

bool isNameChar(char c) { return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == ':'; }

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

// The first occurrence of the `length` bytes at `pattern` in [from, to);
// null when there is none.
const char* find(const char* from, const char* to, const char* pattern, std::size_t length) {
  for (const char* at = from; at < to; ++at) {
    at = static_cast<const char*>(std::memchr(at, pattern[0], static_cast<std::size_t>(to - at)));
    if (!at || static_cast<std::size_t>(to - at) < length) return nullptr;
    if (std::memcmp(at, pattern, length) == 0) return at;
  }
  return nullptr;
}

const char* find(const char* from, const char* to, const char* pattern) {
  return find(from, to, pattern, std::strlen(pattern));
}

// The next '<' or zero byte at or after `from` in zero-terminated text.
const char* nextMarkup(const char* from) {
#if defined(__GLIBC__) && !defined(BLOCK2GCI_ASAN)
  return strchrnul(from, '<');  // vectorised, about twice as fast as the loop
#else
  // The sanitizer's strchrnul and strcspn measure the whole rest of the
  // text on every call, which makes a scan quadratic.
  while (*from && *from != '<') ++from;
  return from;
#endif
}

// Walks element content of the simple form and remembers how far it is
// complete. The content ends at a closing tag with nothing open.
class ContentScan {
 public:
  enum class Stop {
    End,      // at the "</" that closes the content
    Unknown,  // at a construct outside the simple form
    Limit,    // at the limit the scan was given
    Cancelled,
  };

  explicit ContentScan(const char* from) : position_(from), complete_(from) {}

  // Scans until the content ends, something unknown comes, the scan
  // reaches the '<' at `limit` (null: no limit), or `cancelled` is set.
  Stop run(const char* limit, const std::atomic<bool>* cancelled = nullptr) {
    // Locals, not members, in the loop: two scans run side by side, and
    // their objects may share a cache line.
    const char* position = position_;
    const char* complete = complete_;
    int depth = depth_;
    Stop stop;
    for (;;) {
      const char* const tag = nextMarkup(position);
      position = tag;
      // A text that ends in a '<' right before a zero byte fails another
      // way than an element does, so the content must not end there.
      if (*tag == '\0' || tag[1] == '\0') {
        stop = Stop::Unknown;
        break;
      }
      if (depth == 0) {
        complete = tag;  // every child before it is closed
        // Between children only, where it costs nothing to speak of.
        if (cancelled && cancelled->load(std::memory_order_relaxed)) {
          stop = Stop::Cancelled;
          break;
        }
      }
      if (limit && tag >= limit) {
        stop = Stop::Limit;
        break;
      }
      if (tag[1] == '/') {
        if (depth == 0) {
          stop = Stop::End;
          break;
        }
        const std::size_t length = lengths_[depth - 1];
        if (std::strncmp(tag + 2, names_[depth - 1], length) != 0 || tag[2 + length] != '>') {
          stop = Stop::Unknown;
          break;
        }
        --depth;
        position = tag + 3 + length;
        continue;
      }
      const char* const name = tag + 1;
      if (!isNameStart(*name)) {
        stop = Stop::Unknown;
        break;
      }
      const char* nameEnd = name + 1;
      while (isNameChar(*nameEnd)) ++nameEnd;
      if (*nameEnd == '>' && depth < kMaxDepth) {
        names_[depth] = name;
        lengths_[depth] = static_cast<std::size_t>(nameEnd - name);
        ++depth;
        position = nameEnd + 1;
      } else if (nameEnd[0] == '/' && nameEnd[1] == '>') {
        position = nameEnd + 2;
      } else {
        stop = Stop::Unknown;
        break;
      }
    }
    position_ = position;
    complete_ = complete;
    depth_ = depth;
    return stop;
  }

  // Where the scan stands, and whether an element is open there.
  const char* position() const { return position_; }
  bool atTopLevel() const { return depth_ == 0; }
  // Everything from the start of the scan up to here is complete content.
  const char* complete() const { return complete_; }

 private:
  static constexpr int kMaxDepth = 64;

  const char* position_;
  const char* complete_;
  const char* names_[kMaxDepth] = {};
  std::size_t lengths_[kMaxDepth] = {};
  int depth_ = 0;
};

// Content that is still open this far from its start is scanned by two
// threads from there on.
constexpr std::size_t kSplitAfter = std::size_t(4) << 20;

// How far the content starting at `start` is complete and simple. Past
// kSplitAfter, the rest of the document is scanned in two halves at once:
// the second half starts at the first tag past the middle that looks like
// the content's first child, and its result holds only if the first half
// arrives there with no element open.
const char* completeContent(const char* start, const char* end) {
  ContentScan first(start);
  if (static_cast<std::size_t>(end - start) <= 2 * kSplitAfter) {
    first.run(nullptr);
    return first.complete();
  }
  if (first.run(start + kSplitAfter) != ContentScan::Stop::Limit) return first.complete();
  const char* const child = nextMarkup(start);
  std::size_t nameLength = 0;
  if (*child == '<' && isNameStart(child[1])) {
    while (isNameChar(child[1 + nameLength])) ++nameLength;
  }
  const char* split = nullptr;
  if (nameLength > 0 && child[1 + nameLength] == '>') {
    split = find(first.position() + (end - first.position()) / 2, end, child, nameLength + 2);
  }
  if (split) {
    ContentScan second(split);
    std::atomic<bool> unneeded{false};
    std::thread helper;
    try {
      helper = std::thread([&second, &unneeded] { second.run(nullptr, &unneeded); });
    } catch (...) {
      // No second thread to be had (std::system_error, std::bad_alloc): scan alone.
    }
    if (helper.joinable()) {
      const ContentScan::Stop stop = first.run(split);
      const bool arrived = stop == ContentScan::Stop::Limit && first.position() == split && first.atTopLevel();
      if (!arrived) unneeded.store(true, std::memory_order_relaxed);
      helper.join();
      if (arrived) return second.complete();
      if (stop != ContentScan::Stop::Limit) return first.complete();
    }
  }
  first.run(nullptr);
  return first.complete();
}

bool isRead(const char* name, const char* nameEnd) {
  const auto is = [&](const char* word) {
    return static_cast<std::size_t>(nameEnd - name) == std::strlen(word) &&
           std::memcmp(name, word, std::strlen(word)) == 0;
  };
  return is("Photogroups") || is("ControlPoints");
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

std::size_t blankUnreadContent(char* text, std::size_t size) {
  const char* const end = text + size;
  std::size_t blanked = 0;
  int depth = 0;
  const char* position = text;
  // Each step moves past one construct exactly as the parser does on a
  // document it accepts; where it would report an error, what follows is
  // never parsed, so blanking it cannot matter.
  for (;;) {
    const char* const tag = nextMarkup(position);
    if (*tag == '\0') return blanked;
    const char* next = nullptr;
    if (tag[1] == '?') {
      next = find(tag + 2, end, "?>");
      if (next) next += 2;
    } else if (tag[1] == '!') {
      if (std::strncmp(tag, "<!--", 4) == 0) {
        next = find(tag + 4, end, "-->");
        if (next) next += 3;
      } else if (std::strncmp(tag, "<![CDATA[", 9) == 0) {
        next = find(tag + 9, end, "]]>");
        if (next) next += 3;
      }
    } else if (tag[1] == '/') {
      if (depth == 0) return blanked;
      --depth;
      next = static_cast<const char*>(std::memchr(tag, '>', static_cast<std::size_t>(end - tag)));
      if (next) next += 1;
    } else {
      const char* const name = tag + 1;
      // The name ends at the first byte up to the space, '/' or '>'. Where
      // the parser's name differs, it is longer and holds a control byte,
      // so the walk does not read that element either.
      const char* nameEnd = name;
      while (static_cast<unsigned char>(*nameEnd) > ' ' && *nameEnd != '/' && *nameEnd != '>') ++nameEnd;
      if (nameEnd == name) return blanked;
      // The tag ends at the first '>' outside a quoted attribute value.
      char quote = 0;
      const char* close = nameEnd;
      for (; *close && (quote || *close != '>'); ++close) {
        if (quote) {
          if (*close == quote) quote = 0;
        } else if (*close == '"' || *close == '\'') {
          quote = *close;
        }
      }
      if (!*close) return blanked;
      next = close + 1;
      if (close[-1] != '/') {
        ++depth;
        if (depth == 3 && !isRead(name, nameEnd)) {
          char* const content = text + (next - text);
          const std::size_t length = static_cast<std::size_t>(completeContent(content, end) - content);
          std::memset(content, 'x', length);
          blanked += length;
          next = content + length;  // the run holds no markup to walk through again
        }
      }
    }
    if (!next) return blanked;
    position = next;
  }
}
