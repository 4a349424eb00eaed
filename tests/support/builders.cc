#include "tests/support/builders.h"

#include <gtest/gtest.h>

#include <utility>

PhotoInfo photo(int id, const char* path, int width, int height, const char* group) {
  PhotoInfo p;
  p.id = id;
  p.imagePath = QString::fromUtf8(path);
  p.groupName = QString::fromUtf8(group);
  p.width = width;
  p.height = height;
  return p;
}

ImageMeasurement measurement(int photoId, double x, double y) { return ImageMeasurement{photoId, x, y, QString()}; }

ImageMeasurement measurement(const char* imageName, double x, double y) {
  return ImageMeasurement{0, x, y, QString::fromUtf8(imageName)};
}

ControlPoint point(const char* name, std::vector<ImageMeasurement> measurements, int category) {
  ControlPoint p;
  p.name = QString::fromUtf8(name);
  p.category = category;
  p.measurements = std::move(measurements);
  return p;
}

ControlPoint point(const char* name, double x, double y, double z, int category,
                   std::vector<ImageMeasurement> measurements) {
  ControlPoint p = point(name, std::move(measurements), category);
  p.x = x;
  p.y = y;
  p.z = z;
  p.measurementCount = static_cast<int>(p.measurements.size());
  return p;
}

pugi::xml_node XmlFragment::contentOf(const char* xml) {
  const pugi::xml_parse_result parsed = document_.load_string(xml, pugi::parse_default);
  if (!parsed) {
    ADD_FAILURE() << "cannot parse " << xml << ": " << parsed.description();
    return pugi::xml_node();
  }
  return document_.first_child().first_child();
}
