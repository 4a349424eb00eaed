#pragma once

#include <QString>

// Rewrites every measurement of every control point in place: the pixel
// coordinates (origin at the top-left corner, rows down) become image-centred
// coordinates with rows up, each shifted by half a pixel:
//   x' = (x - width * 0.5) + 0.5
//   y' = ((height * 0.5) - y) - 0.5
// and `imageName` becomes the complete base name of the photo's image path.
// A photo id that no photo has gets a default entry in photoTable (size 0,
// empty path). Each point's `measurementCount` is set to its number of
// measurements.
void convertMeasurements();

// The file name part of `path` after the last '/' or '\' (both count on every
// platform), up to but not including its last '.'; the whole part when it has
// no '.'; the empty text for an empty path.
QString completeBaseName(const QString& path);
