#include "reader/control_points.h"

#include "block/block.h"
#include "reader/element_value.h"

void readControlPoints(pugi::xml_node firstPoint) {
  for (pugi::xml_node node = firstPoint; node; node = node.next_sibling()) {
    ControlPoint point;
    ImageMeasurement scratch;

    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
      if (hasName(child, "Name")) {
        point.name = elementText(child);
      } else if (hasName(child, "Position")) {
        point.x = realValue(childText(child, "x"));
        point.y = realValue(childText(child, "y"));
        point.z = realValue(childText(child, "z"));
      } else if (hasName(child, "CheckPoint")) {
        point.category = elementText(child) == QLatin1String("true") ? 2 : 1;
      } else if (hasName(child, "Measurement")) {
        scratch.photoId = integerValue(childText(child, "PhotoId"));
        scratch.x = realValue(childText(child, "x"));
        scratch.y = realValue(childText(child, "y"));
        point.measurements.push_back(scratch);
      }
    }
    appendControlPoint(point);
  }
}

void readControlPointsOf(pugi::xml_node container) {
  // Only an embedded value makes the element its own text node.
  if (container.text().data() == container) appendControlPoint(ControlPoint());
  readControlPoints(container.first_child());
}
