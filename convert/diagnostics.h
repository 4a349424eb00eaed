#pragma once

// Warnings about a block that converts, but whose GCI file may not say what
// the user meant. They change nothing in the stores or in the output.

#include "block/block.h"
#include "block/read_notes.h"

// Logs one "Warning:" line for each of these, in this order, kind by kind
// (a point is named by its name in quotes, or by its 1-based position when
// it has none; a photogroup likewise):
//   - a photo id that two or more photos share (droppedPhotos), once per id
//     in id order, with the image path kept and every path dropped:
//       Warning: photo id 5 is shared: kept "a/IMG_1.JPG", dropped "b/IMG_9.JPG"
//   - a photo id that measurements name but no photo has, once per id in
//     the order the ids first appear, with the number of such measurements
//     and the first three control points that name it:
//       Warning: photo id 7 is named by 3 measurements but no photo has it: control points "A", "B" and 1 more
//   - per control point, in order: an empty name or a name with white space
//     in it, which a reader of the GCI file splits into several fields:
//       Warning: control point 4 has an empty name
//       Warning: control point "GCP 1" has blanks in its name
//   - per control point, in order: measurements outside their image, that
//     is x not within 0..width or y not within 0..height (or not a number),
//     counted only where the photo is known and both its sizes are above 0,
//     with the first three photos they are on:
//       Warning: control point "GCP_01" has 2 of 3 measurements outside their image: photo 3
//   - a value read as 0 because it is not a number or out of range
//     (readNotes.values, in reading order):
//       Warning: control point "GCP_01": Position x "412410,5" is not a number, read as 0
//       Warning: control point "GCP_01": Measurement 2 PhotoId "99999999999" is out of range, read as 0
//       Warning: photo "cam1/IMG_1.JPG": Id "12a" is not a number, read as 0
//       Warning: photogroup "Cam2": Width "4000px" is not a number, read as 0
//   - a control point without a Position, or with coordinates missing or
//     empty in it:
//       Warning: control point "GCP_01" has no Position, written at 0, 0, 0
//       Warning: control point "GCP_01": Position y and z are missing or empty, written as 0
//   - a CheckPoint text other than exactly "true" or "false":
//       Warning: control point "GCP_01": CheckPoint "True" is neither "true" nor "false", written as an ordinary
//       control point (category 1)
//   - a control point with the name of an earlier one:
//       Warning: control points 1 and 4 have the same name "GCP_01"
//   - a measured photo whose image size is not its own photogroup's:
//       Warning: photo 12 (photogroup "Cam2") takes the image size 4000 x 3000 of photogroup "Cam1": its own
//       ImageDimensions comes after it Warning: photo 12 (photogroup "Cam2") takes the image size 4000 x 3000 of
//       photogroup "Cam1": its photogroup has no ImageDimensions Warning: photo 12 (photogroup "Cam1") has the image
//       size 0 x 0: no ImageDimensions comes before it
//   - measured photos in id order: an empty image name, blanks in it, and
//     an image name that an earlier photo with another path has:
//       Warning: photo 3 ("cam1/") has an empty image name
//       Warning: photo 3 ("cam1/IMG 1.JPG") has blanks in its image name "IMG 1"
//       Warning: photos 4 ("cam1/IMG_0100.JPG") and 9 ("cam2/IMG_0100.JPG") have the same image name "IMG_0100"
//   - a written text (point name, image name of a measured photo) with
//     characters lost to the encoding of the file (bytes that are not UTF-8)
//     or that the local 8-bit encoding cannot represent:
//       Warning: control point "M\uFFFDller": its name has bytes that are not UTF-8, written as replacement characters
//       Warning: photo 3 ("b/\uFFFD.JPG"): its image name "\uFFFD" has bytes that are not UTF-8, written as
//         replacement characters
//       Warning: control point "\u0391": its name has characters that the local 8-bit encoding cannot represent,
//         written as "?"
//       Warning: photo 3 ("b/\u0391.JPG"): its image name "\u0391" has characters that the local 8-bit encoding
//         cannot represent, written as "?"
//     then, once, when any text had bytes that are not UTF-8 (whether its
//     line was logged or only counted), what to do about it:
//       Warning: the block file is probably saved in a Windows code page, not in UTF-8: save it as UTF-8 (or
//         declare its encoding if it is ISO-8859-1) and convert it again
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

// Logs the summary of a written GCI file:
//   Written: 4 control points (2 check points), 7 measurements
// with "point" and "measurement" in the singular for a count of 1.
void logWrittenSummary(const WrittenCounts& counts);
