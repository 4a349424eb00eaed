#include "convert/convert.h"

#include "block/block.h"

#include <QHash>

#include <algorithm>

QString imageBaseName(const QString& path) {
  const int lastSeparator = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
  const QString fileName = path.mid(lastSeparator + 1);
  const int lastDot = fileName.lastIndexOf(QLatin1Char('.'));
  return lastDot < 0 ? fileName : fileName.left(lastDot);
}

void convertMeasurements() {
  // What a measurement needs of its photo, looked up and named once per photo.
  struct Image {
    double width;
    double height;
    QString name;
  };
  QHash<int, Image> images;
  for (ControlPoint& point : controlPoints) {
    for (ImageMeasurement& measurement : point.measurements) {
      auto image = images.constFind(measurement.photoId);
      if (image == images.constEnd()) {
        const PhotoInfo& photo = findOrCreatePhoto(measurement.photoId);
        image = images.insert(
            measurement.photoId,
            Image{static_cast<double>(photo.width), static_cast<double>(photo.height), imageBaseName(photo.imagePath)});
      }
      // The order of operations is part of the result: keep it as written.
      measurement.x = (measurement.x - image->width * 0.5) + 0.5;
      measurement.y = ((image->height * 0.5) - measurement.y) - 0.5;
      measurement.imageName = image->name;  // shared, not copied
    }
    point.measurementCount = static_cast<int>(point.measurements.size());
  }
}
