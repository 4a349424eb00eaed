#pragma once

// Builders for the tests' input: block records as the reader leaves them or
// as the conversion hands them to the writer, and XML fragments parsed for
// a reader.

#include "block/block.h"

#include <pugixml.hpp>

#include <vector>

// --- Records ---------------------------------------------------------------------------

// A photo as the photogroup reader records it.
PhotoInfo photo(int id, const char* path, int width, int height, const char* group = "");

// A measurement as read: on the photo with id `photoId`, at (x, y) from the
// image's top-left corner, no image name yet.
ImageMeasurement measurement(int photoId, double x = 1, double y = 1);

// A measurement as converted: on the image `imageName`, image-centred.
ImageMeasurement measurement(const char* imageName, double x, double y);

// A control point as read: at the origin, its measurements not counted yet.
ControlPoint point(const char* name, std::vector<ImageMeasurement> measurements = {}, int category = 1);

// A control point as converted: at (x, y, z), its measurements counted.
ControlPoint point(const char* name, double x, double y, double z, int category,
                   std::vector<ImageMeasurement> measurements = {});

// --- XML fragments ---------------------------------------------------------------------

// Parses XML fragments with the parser's default options and keeps each
// document alive until the next parse or its own end.
class XmlFragment {
 public:
  // The first child of the root element of `xml`, where a reader starts on
  // the content of the element that the root stands for. Adds a test
  // failure, and gives a null node, when `xml` does not parse.
  pugi::xml_node contentOf(const char* xml);

 private:
  pugi::xml_document document_;
};
