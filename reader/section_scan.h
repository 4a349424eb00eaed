#pragma once

// Checking a document as it streams by, keeping only what the walk reads.
//
// A large block is mostly content that the walk never reads (its TiePoints
// section). The scan goes once through the document's UTF-8 text, piece by
// piece, checks that the parser accepts all of it, and keeps the bytes of
// the read sections of the root's first `Block`, so that the parser only
// needs to build a tree of those. It knows the parser's rules for the
// ordinary constructs: elements with attributes, comments, processing
// instructions and XML declarations, CDATA sections and texts. At anything
// else (a document type declaration, a zero byte, CDATA outside the root,
// anything the parser would reject) it gives up, and the caller parses the
// whole document instead, which then gives the parser's own result.

#include "reader/huge_pages.h"

#include <cstddef>
#include <vector>

class SectionScan {
 public:
  enum class State {
    Scanning,   // more text is needed
    Certain,    // the parser accepts the whole document; sections() holds what the walk reads
    Uncertain,  // the scan gave up; only a parse of the whole document can tell
  };

  // A scan of a whole document, from its first byte on.
  SectionScan();

  // Checks the `size` bytes of text at `data` and returns how many of them
  // it is done with; the caller presents the rest again, followed by the
  // next bytes. `last` says that no bytes follow: the state is then Certain
  // or Uncertain. A byte-order mark at the very start is skipped, as the
  // parser skips it.
  //
  // `ahead` may be a fragment scan (see scanFragment) of the text at its
  // start() in [data, data + size): where this scan arrives there between
  // two constructs and the fragment fits what is open here, it takes the
  // fragment's result and goes on from the fragment's end() instead of
  // scanning that text again.
  std::size_t feed(const char* data, std::size_t size, bool last, const SectionScan* ahead = nullptr);

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

  // When Certain: whether the root element has a `Block` child.
  bool hasBlock() const { return blockSeen_; }

  // When Certain: the read sections of the root's first `Block`, byte for
  // byte and in document order, inside `<Block>` and `</Block>`, followed
  // by a zero byte, as the parser reads a file.
  RegionBytes& sections() { return sections_; }

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
  // The same, for the first three levels, where the root, its `Block` and
  // the read sections are.
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
  // Takes the result of the fragment scan `ahead` here, if it fits.
  bool adopt(const SectionScan& ahead);

  State state_ = State::Scanning;
  Inside inside_ = Inside::Nothing;
  bool started_ = false;
  std::vector<char> names_;  // the open elements' names, one after the other, in names_[0, namesSize_)
  std::size_t namesSize_ = 0;
  std::vector<std::size_t> nameStarts_;  // where each begins in names_
  bool rootSeen_ = false;                // the first element has begun
  bool inRoot_ = false;                  // it is open
  bool blockSeen_ = false;               // its first `Block` child has begun
  bool inBlock_ = false;                 // that `Block` is open
  bool keeping_ = false;                 // a read section is open
  const char* keepFrom_ = nullptr;       // where its bytes in the current text begin
  RegionBytes sections_;
  void keep(const char* from, const char* to);

  // A fragment scan's own: whether this is one, what it covers, and the
  // end tags of elements opened before it, innermost first.
  static constexpr std::size_t kMaxClosedOutside = 64;
  bool fragment_ = false;
  const char* boundary_ = nullptr;  // the last point between two constructs
  const char* fragmentStart_ = nullptr;
  const char* fragmentEnd_ = nullptr;
  std::vector<Name> closedOutside_;
};
