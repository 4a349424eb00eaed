#pragma once

// A SectionSink that writes down what a scan hands on, to compare scans.

#include "stream/section_scan.h"

#include <cstddef>
#include <string>

// Writes "[i]" when section i begins, each child's bytes followed by '|', and
// "{" and "}" around the parts of a child that comes in parts.
class RecordingSink : public SectionSink {
 public:
  void section(int index) override { events += "[" + std::to_string(index) + "]"; }
  bool child(char* bytes, std::size_t size) override {
    events.append(bytes, size).append(1, '|');
    return true;
  }
  void enter() override { events += "{"; }
  void leave() override { events += "}"; }

  std::string events;
};

// The list the scan tests look for: Photogroups (0), whose children come in
// parts, and ControlPoints (1), in a Block.
inline const SectionList& testSections() {
  static const SectionList list{"Block", {{"Photogroups", true}, {"ControlPoints", false}}};
  return list;
}
