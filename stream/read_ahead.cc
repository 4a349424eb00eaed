#include "stream/read_ahead.h"

#include <system_error>
#include <utility>

ReadAhead::ReadAhead(ReadPiece read, pugi::xml_encoding encoding, std::size_t pieceSize, bool threaded)
    : read_(std::move(read)), decoder_(encoding), asIs_(encoding == pugi::encoding_utf8), pieceSize_(pieceSize) {
  if (!threaded) return;
  try {
    reader_ = std::thread([this] { readAll(); });
  } catch (const std::system_error&) {
    // No second thread: next() reads each piece itself.
  }
}

ReadAhead::~ReadAhead() {
  if (reader_.joinable()) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    reader_.join();
  }
}

namespace {

// Pieces shorter than this are scanned whole by the caller: splitting them
// would cost more than it saves.
constexpr std::size_t kMinSplit = 64;

// The percentage of a piece that the caller scans before the fragment that
// this thread scans: this thread also reads the piece, and decodes it when
// it is not UTF-8, so the shares that finish together were measured.
constexpr std::size_t kCallerShareUtf8 = 65;
constexpr std::size_t kCallerShareDecoded = 75;

}  // namespace

void ReadAhead::fill(Slot& slot, bool scanAhead) {
  Piece& piece = slot.piece;
  piece = Piece();
  slot.ahead.reset();
  char* const room = slot.memory.room(kCarryRoom + (asIs_ ? pieceSize_ : decoder_.maxOutput(pieceSize_)));
  char* const into = asIs_ ? (room ? room + kCarryRoom : nullptr) : raw_.room(pieceSize_);
  if (!room || !into) {
    piece.failed = true;
    return;
  }
  const std::int64_t got = read_(into, pieceSize_);
  if (got < 0) {
    piece.failed = true;
    return;
  }
  piece.last = got == 0;
  piece.text = room + kCarryRoom;
  const auto size = static_cast<std::size_t>(got);
  piece.size = asIs_ ? size : decoder_.decode(into, size, piece.last, piece.text);
  if (scanAhead && piece.size >= kMinSplit) {
    slot.ahead.emplace();
    const std::size_t share = asIs_ ? kCallerShareUtf8 : kCallerShareDecoded;
    // Rounded down, so that even the shortest piece split leaves the caller
    // its share (a piece is a few MiB at most: no overflow).
    slot.ahead->scanFragment(piece.text + piece.size * share / 100, piece.text + piece.size);
    piece.ahead = &*slot.ahead;
  }
}

void ReadAhead::readAll() {
  int untried = 0;  // pieces without a fragment scan since the last one
  for (;;) {
    Slot& slot = slots_[nextToFill_];
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return stopping_ || !slot.full; });
      if (stopping_) return;
    }
    const bool scanAhead = misses_.load(std::memory_order_relaxed) < kMissesToPause || ++untried >= kRetryEvery;
    if (scanAhead) untried = 0;
    try {
      fill(slot, scanAhead);
    } catch (...) {
      // Nothing leaves this thread: what it could not do, memory running out
      // on a long name in the fragment scan above all, is handed over as a
      // failed piece, after which the load goes on as after any failed read.
      slot.ahead.reset();
      slot.piece = Piece();
      slot.piece.failed = true;
    }
    const bool end = slot.piece.last || slot.piece.failed;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      slot.full = true;
    }
    changed_.notify_all();
    if (end) return;
    nextToFill_ = (nextToFill_ + 1) % kSlots;
  }
}

ReadAhead::Piece ReadAhead::next() {
  // The slot given out two calls ago is free again: the caller has moved on.
  Slot* const freed = taken_ >= 2 ? &slots_[(nextToTake_ + kSlots - 2) % kSlots] : nullptr;
  Slot& slot = slots_[nextToTake_];
  nextToTake_ = (nextToTake_ + 1) % kSlots;
  ++taken_;
  if (!reader_.joinable()) {
    if (done_) return Piece{nullptr, 0, false, true};
    fill(slot, false);
    done_ = slot.piece.last || slot.piece.failed;
    return slot.piece;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  if (freed) {
    freed->full = false;
    changed_.notify_all();
  }
  changed_.wait(lock, [&] { return slot.full; });
  return slot.piece;
}
