#pragma once

// Warnings about a block that converts, but whose GCI file may not say what
// the user meant. They change nothing in the stores or in the output.

#include "block/block.h"
#include "block/read_notes.h"

// Logs one "Warning:" line for each problem the block shows, kind by kind
// in the order of the catalogue (log/log_lines.def), which lists the kinds.
// A point or photogroup is named by its name in quotes, or by its 1-based
// position when it has none.
// At most kMaxLinesPerKind lines of one kind, then one that counts the rest.
// Must run before convertMeasurements, which gives unknown ids default
// entries and moves the coordinates. Reads the stores only.
void warnAboutBlock();

// What writing `points` puts into the GCI file, for the summary line.
struct WrittenCounts {
  int controlPoints = 0;
  int checkPoints = 0;  // points of category 2
  int measurements = 0;
};
WrittenCounts countWritten(const std::vector<ControlPoint>& points);

// Logs the summary of a written GCI file ("Written: ..."), with "point" and
// "measurement" in the singular for a count of 1.
void logWrittenSummary(const WrittenCounts& counts);
