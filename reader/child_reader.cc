#include "reader/child_reader.h"

#include "block/block.h"
#include "block/read_notes.h"
#include "reader/element_value.h"
#include "stream/section_stream.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <system_error>
#include <utility>

namespace {

// The parser's options for an element or CDATA child of a read section,
// parsed alone: the whole-file load's, with leading element texts kept in
// their elements (which halves the nodes of a block and reads the same), and
// a CDATA child taken as a node of its own.
constexpr unsigned kChildOptions = pugi::parse_default | pugi::parse_embed_pcdata | pugi::parse_fragment;

// How many batches may wait to be appended before the calling thread reads
// one itself rather than go on scanning.
constexpr std::size_t kPending = 8;

// Whether the element at `bytes` is named Photo: its name ends where a
// blank, '/' or '>' follows.
bool isPhoto(const char* bytes, std::size_t size) {
  static constexpr char kStart[] = "<Photo";
  constexpr std::size_t kLength = sizeof kStart - 1;
  if (size <= kLength || std::memcmp(bytes, kStart, kLength) != 0) return false;
  const char next = bytes[kLength];
  return next == ' ' || next == '\t' || next == '\r' || next == '\n' || next == '/' || next == '>';
}

}  // namespace

struct ChildReader::Batch {
  // What comes in a batch, in document order.
  struct Event {
    enum Kind {
      Point,  // a control point, read apart
      Photo,  // a photo, read apart
      Child,  // any other child, read when the batch is appended
      Enter,
      Leave,
    };
    Kind kind;
    std::size_t offset = 0;  // of its copy in `bytes`
    std::size_t size = 0;
  };
  std::vector<char> bytes;
  std::vector<Event> events;

  // Read apart.
  ReadPoints points;
  std::vector<ReadPhoto> photos;
  ReadNotes photoNotes;  // the photos' notes, up to their cap within the batch
  bool failed = false;   // a child could not be parsed
  std::exception_ptr error;

  enum class State { Waiting, Reading, Read } state = State::Waiting;

  void clear() {
    bytes.clear();
    events.clear();
    points.points.clear();
    points.notes = ReadNotes();
    photos.clear();
    photoNotes = ReadNotes();
    failed = false;
    error = nullptr;
    state = State::Waiting;
  }
};

ChildReader::ChildReader(std::size_t secondThreadFrom) : secondThreadFrom_(secondThreadFrom) {}

std::size_t ChildReader::secondThreadFrom(std::size_t documentSize) {
  if (!worthASecondThread(documentSize)) return kNoSecondThread;
  return std::min(documentSize / 4, std::size_t(8) << 20);
}

ChildReader::~ChildReader() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (worker_.joinable()) worker_.join();
}

void ChildReader::work() {
  pugi::xml_document document;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    Batch* next = nullptr;
    changed_.wait(lock, [&] { return stopping_ || (next = firstWaiting()) != nullptr; });
    if (stopping_) return;
    next->state = Batch::State::Reading;
    lock.unlock();
    try {
      readApart(*next, document);
    } catch (...) {
      next->error = std::current_exception();
    }
    lock.lock();
    next->state = Batch::State::Read;
    changed_.notify_all();
  }
}

ChildReader::Batch* ChildReader::firstWaiting() const {
  for (const std::unique_ptr<Batch>& batch : queue_) {
    if (batch->state == Batch::State::Waiting) return batch.get();
  }
  return nullptr;
}

ChildReader::Batch& ChildReader::open() {
  if (!open_) {
    if (spare_.empty()) {
      open_ = std::make_unique<Batch>();
    } else {
      open_ = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  return *open_;
}

void ChildReader::handOn(std::size_t pending) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (open_) {
    queue_.push_back(std::move(open_));
    changed_.notify_all();
  }
  for (;;) {
    while (!queue_.empty() && queue_.front()->state == Batch::State::Read) {
      std::unique_ptr<Batch> batch = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      append(*batch);
      batch->clear();
      spare_.push_back(std::move(batch));
      lock.lock();
    }
    if (queue_.size() <= pending) return;
    if (Batch* const waiting = firstWaiting()) {
      waiting->state = Batch::State::Reading;
      lock.unlock();
      readApart(*waiting, document_);
      lock.lock();
      waiting->state = Batch::State::Read;
    } else {
      changed_.wait(lock, [&] { return queue_.front()->state == Batch::State::Read; });
    }
  }
}

void ChildReader::readApart(Batch& batch, pugi::xml_document& document) {
  const auto readsApart = [](const Batch::Event& event) {
    return event.kind == Batch::Event::Point || event.kind == Batch::Event::Photo;
  };
  const std::vector<Batch::Event>& events = batch.events;
  for (std::size_t first = 0; first < events.size();) {
    const Batch::Event& event = events[first];
    char* bytes = batch.bytes.data() + event.offset;
    if (!readsApart(event)) {
      ++first;
      continue;
    }
    document.reset();
    if (bytes[0] != '<') {
      // A text directly in a control-point section: a point without
      // children. (Parsed in place, it would lose its last character, where
      // the parser puts its terminating zero.)
      readControlPoint(document.append_child(pugi::node_pcdata), batch.points);
      ++first;
      continue;
    }
    // The elements (and CDATA sections) that follow one another here stand
    // one after the other in `bytes`: they are parsed at once, as the
    // fragment they make, which gives the nodes that each gives alone.
    std::size_t end = first + 1;
    while (end < events.size() && events[end].kind == event.kind && batch.bytes[events[end].offset] == '<') ++end;
    const std::size_t size = events[end - 1].offset + events[end - 1].size - event.offset;
    if (!document.load_buffer_inplace(bytes, size, kChildOptions, pugi::encoding_utf8)) {
      batch.failed = true;
      return;
    }
    for (pugi::xml_node node = document.first_child(); node; node = node.next_sibling()) {
      if (event.kind == Batch::Event::Point) {
        readControlPoint(node, batch.points);
      } else if (hasName(node, "Photo")) {
        batch.photos.push_back(readPhoto(node, batch.photoNotes));
      } else {
        batch.failed = true;  // not a Photo element after all
        return;
      }
    }
    first = end;
  }
}

void ChildReader::append(Batch& batch) {
  if (batch.error) std::rethrow_exception(batch.error);
  if (batch.failed) failed_ = true;
  if (failed_) return;
  std::size_t photo = 0;
  std::size_t note = 0;
  for (const Batch::Event& event : batch.events) {
    switch (event.kind) {
      case Batch::Event::Point:
        break;
      case Batch::Event::Photo: {
        const ReadPhoto& read = batch.photos[photo++];
        if (read.noted) {
          // The batch kept its first notes, as many as the stores may
          // keep: where it kept none, the stores' cap is reached too.
          if (note < batch.photoNotes.values.size()) {
            if (keepsValueNote()) readNotes.values.push_back(std::move(batch.photoNotes.values[note]));
            ++note;
          } else {
            ++readNotes.valuesNotKept;
          }
        }
        reader_.photo(read);
        break;
      }
      case Batch::Event::Child:
        if (!readNow(batch.bytes.data() + event.offset, event.size)) return;
        break;
      case Batch::Event::Enter:
        reader_.enter();
        break;
      case Batch::Event::Leave:
        reader_.leave();
        break;
    }
  }
  reader_.append(batch.points);
}

bool ChildReader::readNow(char* bytes, std::size_t size) {
  document_.reset();
  if (bytes[0] != '<') {
    // A text: the readers take it as a node without children and never
    // read what it says (see readApart).
    reader_.read(document_.append_child(pugi::node_pcdata));
    return true;
  }
  if (!document_.load_buffer_inplace(bytes, size, kChildOptions, pugi::encoding_utf8)) {
    failed_ = true;
    return false;
  }
  for (pugi::xml_node node = document_.first_child(); node; node = node.next_sibling()) reader_.read(node);
  return true;
}

void ChildReader::section(int index) {
  handOn(0);
  reader_.begin(index);
}

void ChildReader::enter() {
  open().events.push_back({Batch::Event::Enter});
  inParts_ = true;
}

void ChildReader::leave() {
  open().events.push_back({Batch::Event::Leave});
  inParts_ = false;
}

bool ChildReader::child(char* bytes, std::size_t size) {
  if (failed_) return false;
  if (size > kCopiedUpTo) {
    handOn(0);
    return !failed_ && readNow(bytes, size);
  }
  Batch::Event::Kind kind = Batch::Event::Child;
  if (reader_.section() == SectionReader::Section::ControlPoints) {
    kind = Batch::Event::Point;
  } else if (inParts_ && isPhoto(bytes, size)) {
    kind = Batch::Event::Photo;
  }
  Batch& batch = open();
  batch.events.push_back({kind, batch.bytes.size(), size});
  batch.bytes.insert(batch.bytes.end(), bytes, bytes + size);
  copied_ += size;
  if (batch.bytes.size() < kBatchBytes) return !failed_;
  if (!worker_.joinable() && secondThreadFrom_ != kNoSecondThread && copied_ >= secondThreadFrom_) {
    secondThreadFrom_ = kNoSecondThread;  // one attempt
    try {
      worker_ = std::thread([this] { work(); });
    } catch (const std::system_error&) {
      // Without a second thread the caller reads every batch.
    }
  }
  handOn(worker_.joinable() ? kPending : 0);
  return !failed_;
}

bool ChildReader::finish() {
  handOn(0);
  return !failed_;
}
