#pragma once

// What the readers substituted for what a block says, kept only to tell the
// user about it. The readers append notes as they go; the warnings turn
// them into log lines. Nothing here changes a record.

#include <QString>

#include <vector>

// At most this many warning lines of one kind are logged; the others are
// counted in one line after them ("Warning: and 37 more values read as 0").
// The readers keep no more notes of a kind than this, the warnings log no
// more lines.
constexpr int kMaxLinesPerKind = 20;

// A value that is not a number (or out of range) and was read as 0.
struct ValueNote {
  enum Owner { ControlPoint, Photo, Photogroup };
  Owner owner = ControlPoint;
  // ControlPoint: index into controlPoints; Photogroup: the group's 1-based
  // position in the block; Photo: unused.
  int number = 0;
  // Photo: its image path; Photogroup: its own name (empty when it has none).
  QString label;
  QString field;  // such as "Position x" or "Measurement 2 PhotoId"
  QString text;   // the value as written
  bool outOfRange = false;
};

// A control point written at 0 in some coordinate because its Position, or
// the coordinate in it, is missing or empty.
struct PositionNote {
  int point = 0;            // index into controlPoints
  bool noPosition = false;  // no Position element at all
  QString coordinates;      // otherwise the missing or empty ones, such as "y" or "xz"
};

// A CheckPoint text other than exactly "true" or "false".
struct CheckPointNote {
  int point = 0;  // index into controlPoints
  QString text;
};

// A kept photo whose image size is not that of its own photogroup.
struct PhotoSizeNote {
  enum Cause {
    OwnComesAfter,  // its group's ImageDimensions follows it; an earlier group's size is used
    OwnMissing,     // its group has no ImageDimensions; an earlier group's size is used
    NoneBefore,     // no ImageDimensions came before it: 0 x 0
  };
  int photoId = 0;
  QString group;        // its group's own name, or "" when it has none
  int groupNumber = 0;  // its group's 1-based position in the block
  QString sizeGroup;    // the name of the group whose size is used
  int sizeGroupNumber = 0;
  int width = 0;
  int height = 0;
  Cause cause = NoneBefore;
};

struct ReadNotes {
  // In reading order: the first kMaxLinesPerKind only, for a block of
  // hundreds of thousands of bad values; the others are only counted.
  std::vector<ValueNote> values;
  int valuesNotKept = 0;
  std::vector<PositionNote> positions;      // in point order
  std::vector<CheckPointNote> checkPoints;  // in point order
  std::vector<PhotoSizeNote> photoSizes;    // in reading order
  std::vector<int> lostPointNames;          // indices into controlPoints whose name lost characters
  std::vector<int> lostImagePaths;          // ids of kept photos whose image path lost characters
  int photogroupsRead = 0;                  // photogroups seen so far, to number them
};

// Emptied by resetStores.
extern ReadNotes readNotes;

// Whether a value note is kept in `notes`; counts it in valuesNotKept when
// it is not. Call it before building the note.
bool keepsValueNote(ReadNotes& notes = readNotes);
