#pragma once

// Reading a document ahead of its scan.

#include "stream/region_bytes.h"
#include "stream/section_scan.h"
#include "stream/text_decoding.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

// Reads a document piece by piece on a second thread, and decodes each
// piece into the parser's UTF-8 there, a piece ahead of the one the caller
// is scanning: the system's copying and the decoding then overlap the scan
// instead of adding to it. The thread also scans the second half of each
// piece as a fragment (see SectionScan::scanFragment), which the caller's
// scan takes over when it gets there, so that the two halves of the scan
// run side by side. Where no thread can be had, each piece is read when it
// is asked for, and the caller scans all of it.
class ReadAhead {
 public:
  // The next bytes of the document: reads at most `max` of them into
  // `into` and returns how many it read, 0 at the end, or -1 on an error.
  using ReadPiece = std::function<std::int64_t(char* into, std::size_t max)>;

  // Bytes that every piece's text has room for in front of it.
  static constexpr std::size_t kCarryRoom = 4096;

  // Reads through `read`, `pieceSize` bytes at a time, decoding from
  // `encoding` (see ParserDecoder), on a second thread when `threaded`.
  ReadAhead(ReadPiece read, pugi::xml_encoding encoding, std::size_t pieceSize, bool threaded);
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  struct Piece {
    char* text = nullptr;  // with kCarryRoom writable bytes before it
    std::size_t size = 0;
    bool last = false;                   // no text follows
    bool failed = false;                 // a read failed, or memory ran out: there is no text
    const SectionScan* ahead = nullptr;  // a fragment scan of the piece's second half, or null
  };

  // The next piece, which stays valid until the call after next: so the
  // end of one piece can be carried in front of the next.
  Piece next();

  // Says whether the caller took the fragment scan of the piece it was last
  // given. Where it takes none (inside a read section, whose children it
  // must find itself), kMissesToPause times in a row, the thread scans a
  // fragment of only one piece in kRetryEvery, to see when they are taken
  // again, and spares the rest of that work for the other threads of the
  // load.
  void tookFragment(bool taken) {
    if (taken) {
      misses_.store(0, std::memory_order_relaxed);
    } else {
      misses_.fetch_add(1, std::memory_order_relaxed);
    }
  }
  static constexpr int kMissesToPause = 3;
  static constexpr int kRetryEvery = 8;

 private:
  static constexpr int kSlots = 3;

  struct Slot {
    RegionBytes memory;
    Piece piece;
    std::optional<SectionScan> ahead;
    bool full = false;
  };

  // Reads the next piece into `slot`; `scanAhead` says whether to scan its
  // second half too.
  void fill(Slot& slot, bool scanAhead);
  void readAll();

  ReadPiece read_;
  ParserDecoder decoder_;
  bool asIs_;
  std::size_t pieceSize_;
  RegionBytes raw_;
  Slot slots_[kSlots];
  int nextToFill_ = 0;
  int nextToTake_ = 0;
  std::size_t taken_ = 0;  // pieces given out
  bool done_ = false;      // the last piece, or a failure, has been read
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  std::atomic<int> misses_{0};  // fragments not taken in a row
  std::thread reader_;
};
