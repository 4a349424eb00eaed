#include "convert/diagnostics.h"

#include <QDebug>

#include <map>
#include <utility>
#include <vector>

namespace {

const char* plural(int count, const char* one, const char* many) { return count == 1 ? one : many; }

bool hasWhiteSpace(const QString& text) {
  for (const QChar c : text) {
    if (c.isSpace()) return true;
  }
  return false;
}

// Within 0..size, both ends included; a NaN is outside.
bool within(double value, int size) { return value >= 0.0 && value <= static_cast<double>(size); }

void warnAboutSharedIds() {
  std::map<int, std::vector<QString>> dropped;
  for (const PhotoInfo& photo : droppedPhotos) dropped[photo.id].push_back(photo.imagePath);
  for (const auto& [id, paths] : dropped) {
    const auto kept = photoTable.find(id);
    QDebug line = qDebug().nospace();
    line << "Warning: photo id " << id << " is shared: kept "
         << (kept != photoTable.end() ? kept->second.imagePath : QString()) << ", dropped ";
    for (size_t i = 0; i < paths.size(); ++i) {
      if (i > 0) line << ", ";
      line << paths[i];
    }
  }
}

void warnAboutUnknownIds() {
  std::vector<std::pair<int, int>> unknown;  // id, measurements naming it; in order of first appearance
  std::map<int, size_t> position;
  for (const ControlPoint& point : controlPoints) {
    for (const ImageMeasurement& measurement : point.measurements) {
      if (photoTable.count(measurement.photoId) != 0) continue;
      const auto found = position.emplace(measurement.photoId, unknown.size());
      if (found.second) unknown.emplace_back(measurement.photoId, 0);
      ++unknown[found.first->second].second;
    }
  }
  for (const auto& [id, count] : unknown) {
    qDebug().nospace() << "Warning: photo id " << id << " is named by " << count << " "
                       << plural(count, "measurement", "measurements") << " but no photo has it";
  }
}

void warnAboutPoints() {
  int number = 0;
  for (const ControlPoint& point : controlPoints) {
    ++number;
    if (point.name.isEmpty()) {
      qDebug().nospace() << "Warning: control point " << number << " has an empty name";
    } else if (hasWhiteSpace(point.name)) {
      qDebug().nospace() << "Warning: control point " << point.name << " has blanks in its name";
    }

    int outside = 0;
    for (const ImageMeasurement& measurement : point.measurements) {
      const auto photo = photoTable.find(measurement.photoId);
      if (photo == photoTable.end() || photo->second.width <= 0 || photo->second.height <= 0) continue;
      if (!within(measurement.x, photo->second.width) || !within(measurement.y, photo->second.height)) ++outside;
    }
    if (outside > 0) {
      QDebug line = qDebug().nospace();
      line << "Warning: control point ";
      if (point.name.isEmpty()) {
        line << number;
      } else {
        line << point.name;
      }
      line << " has " << outside << " of " << static_cast<int>(point.measurements.size())
           << " measurements outside their image";
    }
  }
}

}  // namespace

void warnAboutBlock() {
  warnAboutSharedIds();
  warnAboutUnknownIds();
  warnAboutPoints();
}

WrittenCounts countWritten(const std::vector<ControlPoint>& points) {
  WrittenCounts counts;
  for (const ControlPoint& point : points) {
    ++counts.controlPoints;
    if (point.category == 2) ++counts.checkPoints;
    counts.measurements += static_cast<int>(point.measurements.size());
  }
  return counts;
}

void logWrittenSummary(const WrittenCounts& counts) {
  qDebug().nospace() << "Written: " << counts.controlPoints << " "
                     << plural(counts.controlPoints, "control point", "control points") << " ("
                     << counts.checkPoints << " " << plural(counts.checkPoints, "check point", "check points")
                     << "), " << counts.measurements << " "
                     << plural(counts.measurements, "measurement", "measurements");
}
