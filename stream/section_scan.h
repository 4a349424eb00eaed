#pragma once

// Checking a document as it streams by, and handing on what a reader reads.
//
// A large document is often mostly content that its reader never reads. The
// scan goes once through the document's UTF-8 text, piece by piece, checks
// that the parser accepts all of it, and hands each child of the read
// sections (see SectionList) to a SectionSink as soon as it is complete, so
// that the parser only ever builds a tree of one child. It knows the
// parser's rules for the ordinary constructs: elements with attributes,
// comments, processing instructions and XML declarations, CDATA sections and
// texts. At anything else (a document type declaration, a zero byte, CDATA
// outside the root, anything the parser would reject) it gives up, and the
// caller parses the whole document instead, which then gives the parser's
// own result.

#include "stream/region_bytes.h"

#include <cstddef>
#include <string>
#include <vector>

// Where the read sections of a document are: the root's first child element
// named `container`, and, among that element's children, every element
// whose name is one of `sections` (in document order, any number of each).
struct SectionList {
  struct Section {
    std::string name;
    // Each element child of the section is handed on in parts, its own
    // children one by one, so that a child far larger than its parts
    // never stands whole in memory.
    bool inParts = false;
  };
  std::string container;
  std::vector<Section> sections;

  // The index in `sections` of the name given by the `length` bytes at
  // `name`, or -1 when it names no read section.
  int find(const char* name, std::size_t length) const;
};

// What a scan hands on, in document order.
class SectionSink {
 public:
  virtual ~SectionSink() = default;

  // A read section begins: `sections[index]` of the list.
  virtual void section(int index) = 0;

  // One complete child of the section that began last, as the parser would
  // make a node of it: an element with all its content, a text that holds
  // more than white space (up to the next markup of any kind), or a CDATA
  // section. The `size` bytes at `bytes` are its UTF-8 text, which the sink
  // may change (to parse it in place) and must not keep. Returning false
  // makes the scan give up.
  //
  // In a section whose children come in parts, an element child comes as
  // enter(), then each of its own children as a child() (of the same three
  // kinds), then leave(); its texts and CDATA children come whole.
  virtual bool child(char* bytes, std::size_t size) = 0;
  virtual void enter() {}
  virtual void leave() {}
};

class SectionScan {
 public:
  enum class State {
    Scanning,   // more text is needed
    Certain,    // the parser accepts the whole document, and every child has been handed on
    Uncertain,  // the scan gave up; only a parse of the whole document can tell
  };

  // A scan of a whole document, from its first byte on, that hands the
  // children of the sections in `list` to `sink`. Both must outlive it.
  SectionScan(const SectionList& list, SectionSink& sink);

  // A scan that scanFragment makes a fragment scan.
  SectionScan();

  // Checks the `size` bytes of text at `data` and returns how many of them
  // it is done with; the caller presents the rest again, followed by the
  // next bytes. `last` says that no bytes follow: the state is then Certain
  // or Uncertain. A byte-order mark at the very start is skipped, as the
  // parser skips it. The bytes of a child that is handed on whole within
  // them are handed on where they stand, so they must be writable.
  //
  // `ahead` may be a fragment scan (see scanFragment) of the text at its
  // start() in [data, data + size): where this scan arrives there between
  // two constructs and the fragment fits what is open here, it takes the
  // fragment's result and goes on from the fragment's end() instead of
  // scanning that text again.
  std::size_t feed(char* data, std::size_t size, bool last, const SectionScan* ahead = nullptr);

  // Makes this a fragment scan: it checks the text from the '<' at `start`
  // (the first one at or after `from`) up to `end` without knowing what
  // encloses it, while a scan of the whole document is busy with the text
  // before it. End tags of elements opened before `start` are noted, to be
  // matched against the elements open there. It stops at the first
  // construct it cannot judge without knowing more, or where the text ends.
  void scanFragment(const char* from, const char* end);
  const char* start() const { return fragmentStart_; }
  const char* end() const { return fragmentEnd_; }

  State state() const { return state_; }

  // Whether the last feed() took the result of the fragment scan it was given.
  bool tookAhead() const { return tookAhead_; }

  // When Certain: whether the root element has a child named as the list's
  // container.
  bool hasContainer() const { return containerSeen_; }

 private:
  enum class Inside { Nothing, Comment, Cdata, Instruction };

  struct Name {
    const char* bytes;
    std::size_t length;
  };

  // Each returns the end of the construct at `tag`, or `tag` itself when its
  // end is not in [tag, end) yet, or null when the scan gives up.
  const char* startTag(const char* tag, const char* end);
  const char* endTag(const char* tag, const char* end);
  const char* declaration(const char* tag, const char* end);
  const char* instruction(const char* tag, const char* end);
  // Returns the end of the comment, CDATA section or instruction that the
  // scan is inside of, or where to look again when that is not in [from,
  // end) yet, or null when the scan gives up.
  const char* insideEnd(const char* from, const char* end);

  // An element begins: the tag at `tag` ends at `tagEnd`, and `empty` says
  // that it also closes the element.
  void opened(const char* name, std::size_t length, const char* tag, const char* tagEnd, bool empty);
  // The same, for the first four levels, where the root, the container, the
  // read sections and their children are.
  void openedNear(const char* name, std::size_t length, const char* tag, const char* tagEnd, bool empty);
  // The innermost open element is closed by a tag that ends at `tagEnd`.
  void pop(const char* tagEnd);
  // How many elements are open, and the name of the one at `index` (0 the
  // outermost).
  std::size_t depth() const { return nameStarts_.size(); }
  Name openName(std::size_t index) const;
  // An element named by the `length` bytes at `name` is open.
  void pushName(const char* name, std::size_t length);
  const char* giveUp();
  // What feed does, for a whole scan and for a fragment scan, which never
  // hands on a child and so never writes to its text.
  std::size_t scan(const char* data, std::size_t size, bool last, const SectionScan* ahead);
  // Takes the result of the fragment scan `ahead` here, if it fits.
  bool adopt(const SectionScan& ahead);

  State state_ = State::Scanning;
  bool tookAhead_ = false;
  Inside inside_ = Inside::Nothing;
  bool started_ = false;
  std::vector<char> names_;  // the open elements' names, one after the other, in names_[0, namesSize_)
  std::size_t namesSize_ = 0;
  std::vector<std::size_t> nameStarts_;  // where each begins in names_
  bool rootSeen_ = false;                // the first element has begun
  bool inRoot_ = false;                  // it is open
  bool containerSeen_ = false;           // its first child named as the container has begun
  bool inContainer_ = false;             // that child is open
  bool inSection_ = false;               // a read section is open
  bool inParts_ = false;                 // its children come in parts
  bool partsOpen_ = false;               // a child that comes in parts is open

  // Whether the scan is between two children that are handed on: those of
  // the open section, or the parts of its open child.
  bool between() const { return inSection_ && (depth() == 3 || (partsOpen_ && depth() == 4)); }

  // The child of a read section that is open, if any.
  enum class Child { None, Element, Text, Cdata };
  Child child_ = Child::None;
  const char* childFrom_ = nullptr;  // where its bytes in the current text begin
  RegionBytes childBytes_;           // its bytes from earlier texts
  // The child ends at `to` in the current text: hands it on.
  void finishChild(const char* to);

  const SectionList* list_ = nullptr;
  SectionSink* sink_ = nullptr;

  // A fragment scan's own: whether this is one, what it covers, and the
  // end tags of elements opened before it, innermost first.
  static constexpr std::size_t kMaxClosedOutside = 64;
  bool fragment_ = false;
  const char* boundary_ = nullptr;  // the last point between two constructs
  const char* fragmentStart_ = nullptr;
  const char* fragmentEnd_ = nullptr;
  std::vector<Name> closedOutside_;
};
