#include "convert/convert.h"

#include "block/block.h"

#include <algorithm>

QString imageBaseName(const QString& path) {
  const int lastSeparator = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
  const QString fileName = path.mid(lastSeparator + 1);
  const int lastDot = fileName.lastIndexOf(QLatin1Char('.'));
  return lastDot < 0 ? fileName : fileName.left(lastDot);
}

void convertMeasurements() {
  for (ControlPoint& point : controlPoints) {
    for (ImageMeasurement& measurement : point.measurements) {
      const PhotoInfo& photo = findOrCreatePhoto(measurement.photoId);
      const double width = photo.width;
      const double height = photo.height;
      // The order of operations is part of the result: keep it as written.
      measurement.x = (measurement.x - width * 0.5) + 0.5;
      measurement.y = ((height * 0.5) - measurement.y) - 0.5;
      measurement.imageName = imageBaseName(photo.imagePath);
    }
    point.measurementCount = static_cast<int>(point.measurements.size());
  }
}
