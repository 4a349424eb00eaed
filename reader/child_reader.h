#pragma once

// Reading the children that a streamed load hands on, on one or two threads.

#include "reader/block_walk.h"
#include "stream/section_scan.h"

#include <pugixml.hpp>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Parses each child that a scan hands on by itself, reads it into the stores
// and drops it, in document order.
//
// Most of a large block's reading is parsing its control points and photos
// and reading their values, and each of them can be read apart from the
// stores (readControlPoint into ReadPoints, readPhoto). So these children are
// copied into batches, which are read apart by whichever thread is free, and
// appended to the stores in document order by the calling thread. Everything
// else (the start of a section or a group, a group's name and size, texts, a
// child too large to copy) is read by the calling thread in its turn. The
// stores therefore end exactly as if every child had been read as it came.
// Without a second thread, each batch is read by the caller as it fills.
// A second thread is started only where the batches are a large part of
// the document (secondThreadFrom).
class ChildReader : public SectionSink {
 public:
  // Reads batches on a second thread too, where one can be had, once the
  // children copied into batches reach `secondThreadFrom` bytes (never when
  // that is kNoSecondThread).
  explicit ChildReader(std::size_t secondThreadFrom);
  static constexpr std::size_t kNoSecondThread = std::size_t(-1);

  // Where a second thread pays for a document of `documentSize` bytes: once
  // the children copied reach a quarter of the document, or 8 MiB, when it
  // is worth a second thread at all (see worthASecondThread). Until then
  // the read sections are a small part of the document, whose scan keeps
  // both cores busy (see ReadAhead), and a third busy thread would slow it.
  static std::size_t secondThreadFrom(std::size_t documentSize);
  ~ChildReader() override;
  ChildReader(const ChildReader&) = delete;
  ChildReader& operator=(const ChildReader&) = delete;

  void section(int index) override;
  void enter() override;
  void leave() override;
  bool child(char* bytes, std::size_t size) override;

  // Reads what is still pending into the stores. Returns false when a child
  // could not be parsed; the stores then hold only part of the document. A
  // std::bad_alloc on the second thread is thrown again here, or by the
  // call that would have read that child.
  bool finish();

  // A batch is handed on when its copies reach this many bytes; a child
  // larger than kCopiedUpTo is read where it stands instead.
  static constexpr std::size_t kBatchBytes = std::size_t(256) << 10;
  static constexpr std::size_t kCopiedUpTo = std::size_t(1) << 20;

 private:
  struct Batch;

  // The oldest handed-on batch that no thread reads yet, or null; with
  // mutex_ held.
  Batch* firstWaiting() const;
  // Starts a batch of the section being read, when none is open.
  Batch& open();
  // Hands the open batch on, then reads and appends batches until no more
  // than `pending` are waiting to be appended.
  void handOn(std::size_t pending);
  // Parses the children of `batch` that are read apart, with `document`.
  static void readApart(Batch& batch, pugi::xml_document& document);
  // Appends what `batch` read to the stores, reading its other children.
  void append(Batch& batch);
  // Parses the child at `bytes` and reads it straight into the stores.
  bool readNow(char* bytes, std::size_t size);
  void work();

  SectionReader reader_;
  pugi::xml_document document_;
  bool failed_ = false;   // a child could not be parsed
  bool inParts_ = false;  // between enter() and leave(): the children are a photogroup's

  std::unique_ptr<Batch> open_;
  std::vector<std::unique_ptr<Batch>> spare_;  // appended batches, kept for their memory
  std::deque<std::unique_ptr<Batch>> queue_;   // handed on, not yet appended, in document order
  std::size_t secondThreadFrom_;
  std::size_t copied_ = 0;  // bytes copied into batches so far
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  std::thread worker_;
};
