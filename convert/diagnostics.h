#pragma once

// Warnings about a block that converts, but whose GCI file may not say what
// the user meant. They change nothing in the stores or in the output.

#include "block/block.h"

// Logs one "Warning:" line for each of these, in this order:
//   - a photo id that two or more photos share (droppedPhotos), once per id
//     in id order, with the image path kept and every path dropped:
//       Warning: photo id 5 is shared: kept "a/IMG_1.JPG", dropped "b/IMG_9.JPG"
//   - a photo id that measurements name but no photo has, once per id in
//     the order the ids first appear, with the number of such measurements:
//       Warning: photo id 7 is named by 3 measurements but no photo has it
//   - per control point, in order: an empty name (the point is named by its
//     1-based position) or a name with white space in it, which a reader of
//     the GCI file splits into several fields:
//       Warning: control point 4 has an empty name
//       Warning: control point "GCP 1" has blanks in its name
//   - per control point, in order: measurements outside their image, that
//     is x not within 0..width or y not within 0..height (or not a number),
//     counted only where the photo is known and both its sizes are above 0:
//       Warning: control point "GCP_01" has 2 of 3 measurements outside their image
// Must run before convertMeasurements, which gives unknown ids default
// entries and moves the coordinates. Reads the stores only.
void warnAboutBlock();

// What writing `points` puts into the GCI file, for the summary line.
struct WrittenCounts {
  int controlPoints = 0;
  int checkPoints = 0;   // points of category 2
  int measurements = 0;
};
WrittenCounts countWritten(const std::vector<ControlPoint>& points);

// Logs the summary of a written GCI file:
//   Written: 4 control points (2 check points), 7 measurements
// with "point" and "measurement" in the singular for a count of 1.
void logWrittenSummary(const WrittenCounts& counts);
