#include "stream/section_scan.h"

#include <array>
#include <climits>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The parser's classes of characters, byte by byte.
enum : unsigned char {
  kSymbol = 1,  // may be part of a name: letters, digits, '_', ':', '-', '.', every byte from 0x80
  kStart = 2,   // may begin a name: letters, '_', ':', every byte from 0x80
  kSpace = 4,   // ' ', '\t', '\n', '\r'
};

constexpr std::array<unsigned char, 256> makeClasses() {
  std::array<unsigned char, 256> classes{};
  for (int c = 0; c < 256; ++c) {
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (letter || c == '_' || c == ':' || c >= 0x80) classes[c] |= kStart | kSymbol;
    if ((c >= '0' && c <= '9') || c == '-' || c == '.') classes[c] |= kSymbol;
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') classes[c] |= kSpace;
  }
  return classes;
}

constexpr std::array<unsigned char, 256> kClasses = makeClasses();

bool is(char c, unsigned char kind) { return (kClasses[static_cast<unsigned char>(c)] & kind) != 0; }

const char* skipSpace(const char* s, const char* end) {
  while (s < end && is(*s, kSpace)) ++s;
  return s;
}

const char* skipSymbols(const char* s, const char* end) {
  while (s < end && is(*s, kSymbol)) ++s;
  return s;
}

// One bit for each '<' or zero byte among the 64 bytes at `at`.
std::uint64_t markupBits(const char* at) {
#if defined(__SSE2__)
  const __m128i open = _mm_set1_epi8('<');
  const __m128i zero = _mm_setzero_si128();
  std::uint64_t bits = 0;
  for (int i = 0; i < 4; ++i) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16 * i));
    const int hits = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, open), _mm_cmpeq_epi8(bytes, zero)));
    bits |= static_cast<std::uint64_t>(static_cast<unsigned>(hits)) << (16 * i);
  }
  return bits;
#else
  std::uint64_t bits = 0;
  for (int i = 0; i < 64; ++i) bits |= static_cast<std::uint64_t>(at[i] == '<' || at[i] == '\0') << i;
  return bits;
#endif
}

int lowestBit(std::uint64_t bits) {
#if defined(__GNUC__)
  return __builtin_ctzll(bits);
#else
  int n = 0;
  while (!(bits & 1)) bits >>= 1, ++n;
  return n;
#endif
}

// Finds the '<' and zero bytes of a text 64 bytes at a time, and keeps the
// bits of the last 64 for the next question: most tags of a block are a
// few bytes apart, and one search per tag would cost more than the rest of
// the scan.
class MarkupFinder {
 public:
  MarkupFinder(const char* text, const char* end) : text_(text), end_(end) {}

  // The first '<' or zero byte at or after `from`, or the end of the text.
  const char* next(const char* from) {
    auto offset = static_cast<std::size_t>(from - text_);
    if (offset - base_ < 64) {
      const std::uint64_t bits = bits_ & (~std::uint64_t(0) << (offset - base_));
      if (bits != 0) return text_ + base_ + lowestBit(bits);
      offset = base_ + 64;
    }
    for (;; offset += 64) {
      if (static_cast<std::size_t>(end_ - text_) - offset < 64) {
        const char* at = text_ + offset;
        while (at < end_ && *at != '<' && *at != '\0') ++at;
        return at;
      }
      base_ = offset;
      bits_ = markupBits(text_ + offset);
      if (bits_ != 0) return text_ + base_ + lowestBit(bits_);
    }
  }

 private:
  const char* text_;
  const char* end_;
  std::size_t base_ = SIZE_MAX - 64;  // the 64 bytes whose bits are kept, as an offset in the text
  std::uint64_t bits_ = 0;
};

// Whether the `length` bytes at `a` and `b` are the same. Names are short: a
// loop compares them faster than a call would.
bool sameBytes(const char* a, const char* b, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

// Whether the `size` bytes at `at` are the start of `word`.
bool beginsWord(const char* at, std::size_t size, const char* word) {
  return size <= std::strlen(word) && std::memcmp(at, word, size) == 0;
}

}  // namespace

int SectionList::find(const char* name, std::size_t length) const {
  for (std::size_t i = 0; i < sections.size(); ++i) {
    const std::string& known = sections[i].name;
    if (known.size() == length && std::memcmp(known.data(), name, length) == 0) return static_cast<int>(i);
  }
  return -1;
}

SectionScan::SectionScan() = default;

SectionScan::SectionScan(const SectionList& list, SectionSink& sink) : list_(&list), sink_(&sink) {}

const char* SectionScan::giveUp() {
  state_ = State::Uncertain;
  return nullptr;
}

namespace {

bool onlySpace(const char* s, std::size_t size) { return skipSpace(s, s + size) == s + size; }

}  // namespace

void SectionScan::finishChild(const char* to) {
  const Child kind = child_;
  child_ = Child::None;
  // feed took the text as writable; only a fragment scan, which never gets
  // here, reads text it must not change.
  char* bytes = const_cast<char*>(childFrom_);
  auto size = static_cast<std::size_t>(to - childFrom_);
  if (childBytes_.size() > 0) {
    // Without memory for it the child cannot be read on its own.
    if (!childBytes_.append(childFrom_, size)) {
      giveUp();
      return;
    }
    bytes = childBytes_.data();
    size = childBytes_.size();
  }
  // Like the parser, the scan makes no node of a text of white space alone.
  const bool taken = (kind == Child::Text && onlySpace(bytes, size)) || sink_->child(bytes, size);
  childBytes_.clear();
  if (!taken) giveUp();
}

std::size_t SectionScan::feed(char* data, std::size_t size, bool last, const SectionScan* ahead) {
  tookAhead_ = false;
  return scan(data, size, last, ahead);
}

std::size_t SectionScan::scan(const char* data, std::size_t size, bool last, const SectionScan* ahead) {
  if (state_ != State::Scanning) return size;
  const char* const end = data + size;
  const char* at = data;
  if (!started_) {
    if (size < 3 && !last) return 0;
    if (size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) at += 3;
    started_ = true;
  }
  childFrom_ = data;
  MarkupFinder markup(data, end);
  while (at < end) {
    if (inside_ != Inside::Nothing) {
      const char* const next = insideEnd(at, end);
      if (!next) return size;
      at = next;
      if (inside_ != Inside::Nothing) break;  // its end is in the bytes to come
      if (child_ == Child::Cdata) {
        finishChild(at);
        if (state_ != State::Scanning) return size;
      }
      continue;
    }
    boundary_ = at;
    // Text never fails, wherever it stands: the parser takes it as it is
    // inside an element and skips it outside the root.
    const char* const tag = markup.next(at);
    if (between()) {
      // Between the children of a read section a text is a child too, up to
      // the next markup of any kind.
      if (child_ == Child::None && tag != at) {
        child_ = Child::Text;
        childFrom_ = at;
      }
      if (child_ == Child::Text && tag != end) {
        finishChild(tag);
        if (state_ != State::Scanning) return size;
      }
    }
    if (tag == end) {
      at = end;
      break;
    }
    if (*tag == '\0') {
      giveUp();
      return size;
    }
    if (ahead && tag == ahead->fragmentStart_ && adopt(*ahead)) {
      at = ahead->fragmentEnd_;
      ahead = nullptr;
      tookAhead_ = true;
      continue;
    }
    const char* next = tag;  // until the byte after the '<' has come
    if (tag + 1 < end) {
      // Most tags of a block are plain "<Name>" and "</Name>": they are
      // taken here, anything else below.
      if (tag[1] == '/' && depth() > 0) {
        const Name open = openName(depth() - 1);
        if (static_cast<std::size_t>(end - tag) > open.length + 2 && tag[2 + open.length] == '>' &&
            sameBytes(tag + 2, open.bytes, open.length)) {
          at = tag + 3 + open.length;
          pop(at);
          if (state_ != State::Scanning) return size;
          continue;
        }
      } else if (is(tag[1], kStart)) {
        const char* const nameEnd = skipSymbols(tag + 2, end);
        if (nameEnd < end && *nameEnd == '>') {
          const auto length = static_cast<std::size_t>(nameEnd - tag - 1);
          at = nameEnd + 1;
          // Most elements of a block are a text and their own end tag. Below
          // the children of the read sections nothing but that end tag
          // matters, and it can be matched here, where the name is still at
          // hand; but not past the start of the fragment scanned ahead,
          // which would then never be taken over.
          if (fragment_ || (depth() >= 3 && !between())) {
            const char* const close = markup.next(at);
            if ((!ahead || close != ahead->fragmentStart_) && static_cast<std::size_t>(end - close) > length + 2 &&
                close[0] == '<' && close[1] == '/' && close[2 + length] == '>' &&
                sameBytes(close + 2, tag + 1, length)) {
              at = close + 3 + length;
              continue;
            }
          }
          opened(tag + 1, length, tag, at, false);
          if (state_ != State::Scanning) return size;
          continue;
        }
      }
      switch (tag[1]) {
        case '/':
          next = endTag(tag, end);
          break;
        case '?':
          next = instruction(tag, end);
          break;
        case '!':
          next = declaration(tag, end);
          break;
        default:
          next = is(tag[1], kStart) ? startTag(tag, end) : giveUp();
          break;
      }
    }
    if (!next || state_ != State::Scanning) return size;
    at = next;
    if (next == tag) break;  // the construct goes on in the bytes to come
  }
  if (!last) {
    // Without memory for them the open child's bytes cannot be read on their own.
    if (child_ != Child::None && !childBytes_.append(childFrom_, static_cast<std::size_t>(at - childFrom_))) {
      giveUp();
    }
    return state_ == State::Scanning ? static_cast<std::size_t>(at - data) : size;
  }
  // The end of the document: nothing may be cut short or left open.
  if (at != end || inside_ != Inside::Nothing || depth() != 0 || !rootSeen_) {
    giveUp();
  } else {
    state_ = State::Certain;
  }
  return size;
}

const char* SectionScan::startTag(const char* tag, const char* end) {
  const char* const name = tag + 1;
  const char* s = skipSymbols(name, end);
  if (s == end) return tag;
  const std::size_t length = static_cast<std::size_t>(s - name);
  bool empty = false;
  if (*s == '>') {
    ++s;
  } else if (*s == '/') {
    if (s + 1 == end) return tag;
    if (s[1] != '>') return giveUp();
    s += 2;
    empty = true;
  } else if (is(*s, kSpace)) {
    for (;;) {
      s = skipSpace(s, end);
      if (s == end) return tag;
      if (*s == '>') {
        ++s;
        break;
      }
      if (*s == '/') {
        if (s + 1 == end) return tag;
        if (s[1] != '>') return giveUp();
        s += 2;
        empty = true;
        break;
      }
      // An attribute: name, '=' with optional white space around it, and a
      // quoted value that may hold anything but a zero byte.
      if (!is(*s, kStart)) return giveUp();
      s = skipSymbols(s, end);
      s = skipSpace(s, end);
      if (s == end) return tag;
      if (*s != '=') return giveUp();
      s = skipSpace(s + 1, end);
      if (s == end) return tag;
      if (*s != '"' && *s != '\'') return giveUp();
      const char quote = *s++;
      const auto* const close = static_cast<const char*>(std::memchr(s, quote, static_cast<std::size_t>(end - s)));
      if (!close) return std::memchr(s, '\0', static_cast<std::size_t>(end - s)) ? giveUp() : tag;
      if (std::memchr(s, '\0', static_cast<std::size_t>(close - s))) return giveUp();
      s = close + 1;
      if (s == end) return tag;
      if (is(*s, kStart)) return giveUp();  // the next attribute needs white space before it
    }
  } else {
    return giveUp();
  }
  opened(name, length, tag, s, empty);
  return s;
}

const char* SectionScan::endTag(const char* tag, const char* end) {
  if (depth() == 0 && !fragment_) return giveUp();
  const char* const name = tag + 2;
  const char* s = skipSymbols(name, end);
  if (s == end) return tag;
  const auto length = static_cast<std::size_t>(s - name);
  const char* const close = skipSpace(s, end);
  if (close == end) return tag;
  if (*close != '>') return giveUp();
  if (depth() == 0) {
    // It closes an element opened before the fragment: the whole scan will
    // match it against those.
    if (closedOutside_.size() >= kMaxClosedOutside) return giveUp();
    closedOutside_.push_back(Name{name, length});
    return close + 1;
  }
  const Name open = openName(depth() - 1);
  if (length != open.length || !sameBytes(name, open.bytes, length)) return giveUp();
  pop(close + 1);
  return close + 1;
}

const char* SectionScan::instruction(const char* tag, const char* end) {
  // A target name, then anything up to "?>". The XML declaration is one
  // too, as the parser does not keep it.
  const char* s = tag + 2;
  if (s == end) return tag;
  if (!is(*s, kStart)) return giveUp();
  s = skipSymbols(s, end);
  if (s == end) return tag;
  inside_ = Inside::Instruction;
  return s;
}

const char* SectionScan::declaration(const char* tag, const char* end) {
  const auto available = static_cast<std::size_t>(end - tag);
  if (available >= 4 && std::memcmp(tag, "<!--", 4) == 0) {
    inside_ = Inside::Comment;
    return tag + 4;
  }
  if (available >= 9 && std::memcmp(tag, "<![CDATA[", 9) == 0) {
    // Outside the root the parser would make it the document's first node.
    if (depth() == 0 && !fragment_) return giveUp();
    inside_ = Inside::Cdata;
    if (between()) {
      child_ = Child::Cdata;
      childFrom_ = tag;
    }
    return tag + 9;
  }
  if (beginsWord(tag, available, "<!--") || beginsWord(tag, available, "<![CDATA[")) return tag;
  return giveUp();  // a document type declaration, or something the parser rejects
}

const char* SectionScan::insideEnd(const char* from, const char* end) {
  const char* const terminator = inside_ == Inside::Comment ? "-->" : inside_ == Inside::Cdata ? "]]>" : "?>";
  const std::size_t length = std::strlen(terminator);
  for (const char* s = from; s < end; ++s) {
    if (*s == '\0') return giveUp();
    if (*s != terminator[0]) continue;
    if (static_cast<std::size_t>(end - s) < length) return s;  // perhaps the terminator, cut
    if (std::memcmp(s, terminator, length) == 0) {
      inside_ = Inside::Nothing;
      return s + length;
    }
  }
  return end;
}

void SectionScan::opened(const char* name, std::size_t length, const char* tag, const char* tagEnd, bool empty) {
  if (!fragment_ && (depth() < 3 || between())) openedNear(name, length, tag, tagEnd, empty);
  if (!empty) pushName(name, length);
}

void SectionScan::pushName(const char* name, std::size_t length) {
  if (names_.size() - namesSize_ < length) names_.resize(2 * names_.size() + length);
  nameStarts_.push_back(namesSize_);
  // Names are short: a loop copies them faster than a call would.
  char* const into = names_.data() + namesSize_;
  for (std::size_t i = 0; i < length; ++i) into[i] = name[i];
  namesSize_ += length;
}

SectionScan::Name SectionScan::openName(std::size_t index) const {
  const std::size_t start = nameStarts_[index];
  const std::size_t end = index + 1 < nameStarts_.size() ? nameStarts_[index + 1] : namesSize_;
  return Name{names_.data() + start, end - start};
}

void SectionScan::openedNear(const char* name, std::size_t length, const char* tag, const char* tagEnd, bool empty) {
  const std::size_t level = depth() + 1;
  if (level == 1) {
    if (!rootSeen_) inRoot_ = !empty;
    rootSeen_ = true;
  } else if (level == 2) {
    if (inRoot_ && !containerSeen_ && length == list_->container.size() &&
        std::memcmp(name, list_->container.data(), length) == 0) {
      containerSeen_ = true;
      inContainer_ = !empty;
    }
  } else if (level == 3) {
    const int section = inContainer_ ? list_->find(name, length) : -1;
    if (section >= 0) {
      sink_->section(section);
      inSection_ = !empty;
      inParts_ = list_->sections[static_cast<std::size_t>(section)].inParts;
    }
  } else if (inParts_ && level == 4) {
    sink_->enter();
    partsOpen_ = !empty;
    if (empty) sink_->leave();
  } else {
    child_ = Child::Element;
    childFrom_ = tag;
    if (empty) finishChild(tagEnd);
  }
}

void SectionScan::pop(const char* tagEnd) {
  namesSize_ = nameStarts_.back();
  nameStarts_.pop_back();
  const std::size_t level = depth();
  if (level > 4 || fragment_) return;
  if (child_ == Child::Element && level == (partsOpen_ ? 4u : 3u)) {
    finishChild(tagEnd);
  } else if (level == 3) {
    if (partsOpen_) {
      partsOpen_ = false;
      sink_->leave();
    }
  } else if (level == 2) {
    inSection_ = false;
  } else if (level == 1) {
    inContainer_ = false;
  } else if (level == 0) {
    inRoot_ = false;
  }
}

void SectionScan::scanFragment(const char* from, const char* end) {
  fragment_ = true;
  started_ = true;
  const char* const start = MarkupFinder(from, end).next(from);
  if (start == end || *start != '<') return;
  fragmentStart_ = start;
  const std::size_t used = scan(start, static_cast<std::size_t>(end - start), false, nullptr);
  if (state_ == State::Scanning) {
    fragmentEnd_ = start + used;
  } else {
    // What it could not judge, the whole scan judges from the last point
    // between two constructs on.
    fragmentEnd_ = boundary_;
    inside_ = Inside::Nothing;
  }
}

bool SectionScan::adopt(const SectionScan& ahead) {
  // The fragment must stay below the read sections, and inside the open
  // child (or part) of one: then nothing it opens or closes concerns the
  // root, the container, a section or where a child ends.
  const std::size_t closes = ahead.closedOutside_.size();
  if (depth() < closes + (!inSection_ ? 3 : partsOpen_ ? 5 : 4)) return false;
  for (std::size_t i = 0; i < closes; ++i) {
    const Name& closed = ahead.closedOutside_[i];
    const Name open = openName(depth() - 1 - i);
    if (open.length != closed.length || !sameBytes(closed.bytes, open.bytes, closed.length)) return false;
  }
  if (closes > 0) {
    namesSize_ = nameStarts_[depth() - closes];
    nameStarts_.resize(depth() - closes);
  }
  for (std::size_t i = 0; i < ahead.depth(); ++i) {
    const Name open = ahead.openName(i);
    pushName(open.bytes, open.length);
  }
  inside_ = ahead.inside_;
  return true;
}
