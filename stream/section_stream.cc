#include "stream/section_stream.h"

#include "stream/text_decoding.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// How much of a document's start decides how the parser decodes it.
constexpr std::size_t kHeadSize = 4096;

}  // namespace

bool worthASecondThread(std::size_t documentSize) { return documentSize >= (std::size_t(2) << 20); }

StreamResult streamSections(const ReadAhead::ReadPiece& read, std::size_t documentSize, std::size_t pieceSize,
                            const SectionList& list, SectionSink& sink) {
  // The head decides the encoding; it then goes through the stages again as
  // the start of the first piece, which the next read completes, so that
  // every piece begins at a multiple of the piece size.
  char head[kHeadSize];
  std::size_t headSize = 0;
  while (headSize < std::min(documentSize, kHeadSize)) {
    const std::int64_t got = read(head + headSize, std::min(pieceSize, std::min(documentSize, kHeadSize) - headSize));
    if (got < 0) return StreamResult();
    if (got == 0) break;
    headSize += static_cast<std::size_t>(got);
  }
  const pugi::xml_encoding encoding = detectedEncoding(head, headSize, documentSize);
  if (encoding == pugi::encoding_auto) return StreamResult();
  std::size_t headServed = 0;
  const auto next = [&](char* into, std::size_t max) -> std::int64_t {
    if (headServed == headSize) return read(into, max);
    const std::size_t count = std::min(max, headSize - headServed);
    std::memcpy(into, head + headServed, count);
    headServed += count;
    if (count == max || headServed < headSize) return static_cast<std::int64_t>(count);
    const std::int64_t more = read(into + count, max - count);
    return more < 0 ? more : static_cast<std::int64_t>(count) + more;
  };

  // What the scan leaves of a piece goes in front of the next one: in the
  // room the piece has there, or, when it is longer, joined with it here.
  SectionScan scan(list, sink);
  ReadAhead ahead(next, encoding, pieceSize, worthASecondThread(documentSize));
  RegionBytes joined;
  const char* tail = nullptr;
  std::size_t tailSize = 0;
  while (scan.state() == SectionScan::State::Scanning) {
    const ReadAhead::Piece piece = ahead.next();
    if (piece.failed) return StreamResult();
    char* text = piece.text;
    std::size_t size = piece.size;
    if (tailSize > 0 && tailSize <= ReadAhead::kCarryRoom && tail != joined.data()) {
      text -= tailSize;
      std::memmove(text, tail, tailSize);
      size += tailSize;
    } else if (tailSize > 0) {
      if (tail != joined.data()) {
        joined.clear();
        if (!joined.append(tail, tailSize)) return StreamResult();
      }
      if (!joined.append(piece.text, piece.size)) return StreamResult();
      text = joined.data();
      size = joined.size();
    }
    const SectionScan* const offered = text == joined.data() ? nullptr : piece.ahead;
    const std::size_t used = scan.feed(text, size, piece.last, offered);
    if (offered) ahead.tookFragment(scan.tookAhead());
    tail = text + used;
    tailSize = size - used;
    if (tailSize > 0 && text == joined.data()) {
      joined.consume(used);
      tail = joined.data();
    }
  }
  StreamResult result;
  result.certain = scan.state() == SectionScan::State::Certain;
  result.hasContainer = result.certain && scan.hasContainer();
  return result;
}
