#include "block/block.h"

PhotoTable photoTable;
std::vector<ControlPoint> controlPoints;

bool insertPhoto(const PhotoInfo& photo) {
  return photoTable.emplace(photo.id, photo).second;
}

PhotoInfo& findOrCreatePhoto(int id) {
  // operator[] value-initialises the missing entry, which is the default PhotoInfo.
  return photoTable[id];
}

void appendControlPoint(const ControlPoint& point) {
  controlPoints.push_back(point);
}

void resetStores() {
  photoTable.clear();
  controlPoints.clear();
}
