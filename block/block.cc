#include "block/block.h"

#include "block/read_notes.h"

#include <utility>

PhotoTable photoTable;
std::vector<ControlPoint> controlPoints;
std::vector<PhotoInfo> droppedPhotos;
ReadNotes readNotes;

bool keepsValueNote(ReadNotes& notes) {
  if (notes.values.size() < static_cast<size_t>(kMaxLinesPerKind)) return true;
  ++notes.valuesNotKept;
  return false;
}

bool insertPhoto(const PhotoInfo& photo) {
  if (photoTable.emplace(photo.id, photo).second) return true;
  droppedPhotos.push_back(photo);
  return false;
}

PhotoInfo& findOrCreatePhoto(int id) {
  // operator[] value-initialises the missing entry, which is the default PhotoInfo.
  return photoTable[id];
}

void appendControlPoint(const ControlPoint& point) { controlPoints.push_back(point); }

void appendControlPoint(ControlPoint&& point) { controlPoints.push_back(std::move(point)); }

void resetStores() {
  photoTable.clear();
  controlPoints.clear();
  droppedPhotos.clear();
  readNotes = ReadNotes();
}

SavedStores saveStores() { return SavedStores{photoTable, controlPoints, droppedPhotos, readNotes}; }

void restoreStores(SavedStores saved) {
  photoTable = std::move(saved.photoTable);
  controlPoints = std::move(saved.controlPoints);
  droppedPhotos = std::move(saved.droppedPhotos);
  readNotes = std::move(saved.readNotes);
}
