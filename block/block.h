#pragma once

// The block records and the two process-wide stores that carry a block from
// the reader, through the conversion, to the writer.

#include "block/read_notes.h"

#include <QString>

#include <map>
#include <vector>

// One photo as the photogroup reader saw it.
struct PhotoInfo {
  int id = 0;         // the photo's id; 0 in a default entry
  QString imagePath;  // as written in the file, separators kept
  QString groupName;  // name of the photogroup in force when the photo was read
  int height = 0;     // image height in pixels
  int width = 0;      // image width in pixels
};

// One observation of a control point on one photo.
struct ImageMeasurement {
  int photoId = 0;
  double x = 0.0;     // column; from the top-left corner as read, image-centred after conversion
  double y = 0.0;     // row; downwards as read, upwards from the centre after conversion
  QString imageName;  // empty until the conversion sets the image's base name
};

// One ground point with a known position.
struct ControlPoint {
  int category = 1;  // 2 for a check point, 1 otherwise
  QString name;
  int measurementCount = 0;                    // set by the conversion
  std::vector<ImageMeasurement> measurements;  // in document order
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

using PhotoTable = std::map<int, PhotoInfo>;

// Photo id -> what is known of that photo. Filled by the reader, looked up
// (and grown by default entries) by the conversion.
extern PhotoTable photoTable;

// The control points in the order in which they were read.
extern std::vector<ControlPoint> controlPoints;

// The photos that insertPhoto dropped because their id was taken already,
// in the order in which they came. Kept only to tell the user about them.
extern std::vector<PhotoInfo> droppedPhotos;

// Adds `photo` under `photo.id` unless that id is already present: the first
// photo with a given id wins and later ones are dropped (and appended to
// droppedPhotos). Returns whether it was added.
bool insertPhoto(const PhotoInfo& photo);

// Returns the entry for `id`; when there is none, a default PhotoInfo (id 0,
// empty texts, zero size) is inserted under `id` first and returned.
PhotoInfo& findOrCreatePhoto(int id);

// Appends a copy of a finished point to `controlPoints`.
void appendControlPoint(const ControlPoint& point);

// Moves a finished point to the end of `controlPoints`, measurements and
// all, without copying them; `point` is left valid but unspecified.
void appendControlPoint(ControlPoint&& point);

// Empties the stores (droppedPhotos and readNotes too), so that tests (and any caller that converts several
// blocks in one process) start from nothing.
void resetStores();

// What every store (readNotes too) holds at one moment.
struct SavedStores {
  PhotoTable photoTable;
  std::vector<ControlPoint> controlPoints;
  std::vector<PhotoInfo> droppedPhotos;
  ReadNotes readNotes;
};

// A copy of what the stores hold now; costs nothing when they are empty.
SavedStores saveStores();

// Puts back what `saved` holds, as if the stores had not changed since.
void restoreStores(SavedStores saved);
