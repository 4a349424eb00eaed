#pragma once

#include <QString>

// Rewrites every measurement of every control point in place: the pixel
// coordinates (origin at the top-left corner, rows down) become image-centred
// coordinates with rows up, each shifted by half a pixel:
//   x' = (x - width * 0.5) + 0.5
//   y' = ((height * 0.5) - y) - 0.5
// and `imageName` becomes imageBaseName of the photo's image path. That name
// is computed once per photo, and all measurements of one photo hold the same
// shared QString (isSharedWith), so that later steps can handle each image
// name once. A photo id that no photo has gets a default entry in photoTable
// (size 0, empty path). Each point's `measurementCount` is set to its number
// of measurements.
void convertMeasurements();

// The image name that the GCI file gives a photo: the file name part of
// `path` after the last '/' or '\' (both count on every platform, whatever
// the platform's own separator; unlike QFileInfo::completeBaseName), up to
// but not including its last '.'; the whole part when it has no '.'; the
// empty text for an empty path.
QString imageBaseName(const QString& path);
