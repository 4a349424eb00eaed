#include "reader/control_points.h"

#include "block/block.h"
#include "block/read_notes.h"
#include "reader/element_value.h"

#include <cstddef>
#include <cstring>
#include <utility>

namespace {

// Notes a value that is not a number, for the point at `point` (an index
// into controlPoints). The field is named and `text`, the element's UTF-8
// bytes, decoded only then, so that sound values cost nothing: "Position x",
// or "Measurement 2 x" for the second measurement (`measurement` 2).
void noteValue(ReadNotes& notes, ValueProblem problem, int point, const char* element, int measurement,
               const char* field, const char* text) {
  if (problem == ValueProblem::None || !keepsValueNote(notes)) return;
  ValueNote note;
  note.owner = ValueNote::ControlPoint;
  note.number = point;
  note.field = measurement > 0
                   ? QStringLiteral("%1 %2 %3").arg(QLatin1String(element)).arg(measurement).arg(QLatin1String(field))
                   : QStringLiteral("%1 %2").arg(QLatin1String(element), QLatin1String(field));
  note.text = QString::fromUtf8(text);
  note.outOfRange = problem == ValueProblem::OutOfRange;
  notes.values.push_back(std::move(note));
}

// The value of `node`, the child `field` of `element` (null when there is none).
double readReal(ReadNotes& notes, pugi::xml_node node, const char* field, int point, const char* element,
                int measurement = 0) {
  const char* text = node.text().get();
  ValueProblem problem = ValueProblem::None;
  const double value = realValue(text, &problem);
  noteValue(notes, problem, point, element, measurement, field, text);
  return value;
}

int readInteger(ReadNotes& notes, pugi::xml_node node, const char* field, int point, const char* element,
                int measurement) {
  const char* text = node.text().get();
  ValueProblem problem = ValueProblem::None;
  const int value = integerValue(text, &problem);
  noteValue(notes, problem, point, element, measurement, field, text);
  return value;
}

// Whether `name` is exactly `literal`; compared in line, byte by byte up to
// the first difference, so never past the end of either.
template <std::size_t N>
bool isNamed(const char* name, const char (&literal)[N]) {
  for (std::size_t i = 0; i < N; ++i) {
    if (name[i] != literal[i]) return false;
  }
  return true;
}

// The first child elements named PhotoId, x and y of a measurement, found
// in one pass over its children rather than one each; null where there is
// none.
struct MeasurementFields {
  pugi::xml_node photoId;
  pugi::xml_node x;
  pugi::xml_node y;

  explicit MeasurementFields(pugi::xml_node measurement) {
    for (pugi::xml_node child = measurement.first_child(); child; child = child.next_sibling()) {
      const char* name = child.name();
      if (name[0] == 'x' && name[1] == '\0') {
        if (!x) x = child;
      } else if (name[0] == 'y' && name[1] == '\0') {
        if (!y) y = child;
      } else if (!photoId && isNamed(name, "PhotoId")) {
        photoId = child;
      }
      if (photoId && x && y) break;
    }
  }
};

// The children of a control point that are read.
enum class PointField { Other, Name, Position, CheckPoint, Measurement };

// Which of them `child` is, by its exact name (as hasName compares it).
PointField fieldOf(pugi::xml_node child) {
  const char* name = child.name();
  switch (name[0]) {
    case 'N':
      return isNamed(name, "Name") ? PointField::Name : PointField::Other;
    case 'P':
      return isNamed(name, "Position") ? PointField::Position : PointField::Other;
    case 'C':
      return isNamed(name, "CheckPoint") ? PointField::CheckPoint : PointField::Other;
    case 'M':
      return isNamed(name, "Measurement") ? PointField::Measurement : PointField::Other;
    default:
      return PointField::Other;
  }
}

// Whether elementText(node) == `word`, an ASCII word, without decoding
// what needs none: ASCII bytes are their own text, and the decoding drops a
// leading byte-order mark, so only a text with bytes beyond ASCII is
// decoded and compared as a whole.
bool textIs(pugi::xml_node node, const char* word) {
  const char* bytes = node.text().get();
  if (std::strcmp(bytes, word) == 0) return true;
  for (const char* at = bytes; *at != '\0'; ++at) {
    if (static_cast<unsigned char>(*at) >= 0x80) return elementText(node) == QLatin1String(word);
  }
  return false;
}

// The coordinates of `position` that are missing or blank, such as "xz".
QString missingCoordinates(pugi::xml_node position) {
  QString missing;
  for (const char* axis : {"x", "y", "z"}) {
    if (isBlank(position.child(axis).text().get())) missing += QLatin1String(axis);
  }
  return missing;
}

// Notes what the point about to be appended at `index` got in place of a
// position.
void notePosition(ReadNotes& notes, int index, pugi::xml_node position) {
  PositionNote note;
  note.point = index;
  note.noPosition = !position;
  if (position) note.coordinates = missingCoordinates(position);
  if (note.noPosition || !note.coordinates.isEmpty()) notes.positions.push_back(std::move(note));
}

// Reads the point of `node` to the end of `points`, and its notes into
// `notes`, with indices into `points`.
void readPoint(pugi::xml_node node, std::vector<ControlPoint>& points, ReadNotes& notes) {
  ControlPoint point;
  ImageMeasurement scratch;
  const int index = static_cast<int>(points.size());
  pugi::xml_node lastName;
  pugi::xml_node lastPosition;
  pugi::xml_node lastCheckPoint;

  // A point of automatic target detection has hundreds of measurements:
  // counting them first spares the vector its growing.
  std::size_t measurements = 0;
  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    measurements += fieldOf(child) == PointField::Measurement ? 1 : 0;
  }
  point.measurements.reserve(measurements);

  for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
    const PointField field = fieldOf(child);
    if (field == PointField::Name) {
      point.name = elementText(child);
      lastName = child;
    } else if (field == PointField::Position) {
      point.x = readReal(notes, child.child("x"), "x", index, "Position");
      point.y = readReal(notes, child.child("y"), "y", index, "Position");
      point.z = readReal(notes, child.child("z"), "z", index, "Position");
      lastPosition = child;
    } else if (field == PointField::CheckPoint) {
      point.category = textIs(child, "true") ? 2 : 1;
      lastCheckPoint = child;
    } else if (field == PointField::Measurement) {
      const int number = static_cast<int>(point.measurements.size()) + 1;
      const MeasurementFields fields(child);
      scratch.photoId = readInteger(notes, fields.photoId, "PhotoId", index, "Measurement", number);
      scratch.x = readReal(notes, fields.x, "x", index, "Measurement", number);
      scratch.y = readReal(notes, fields.y, "y", index, "Measurement", number);
      point.measurements.push_back(scratch);
    }
  }
  notePosition(notes, index, lastPosition);
  if (lastCheckPoint && !textIs(lastCheckPoint, "true") && !textIs(lastCheckPoint, "false")) {
    notes.checkPoints.push_back(CheckPointNote{index, elementText(lastCheckPoint)});
  }
  if (lastName && lostCharacters(lastName.text().get(), point.name)) notes.lostPointNames.push_back(index);
  points.push_back(std::move(point));
}

// Moves the notes of `from` that name a point by its index to `to`,
// the index `offset` further on.
template <typename Note>
void moveIndexed(std::vector<Note>& from, std::vector<Note>& to, int offset, int Note::*index) {
  for (Note& note : from) {
    note.*index += offset;
    to.push_back(std::move(note));
  }
  from.clear();
}

}  // namespace

void readControlPoints(pugi::xml_node firstPoint) {
  for (pugi::xml_node node = firstPoint; node; node = node.next_sibling()) readControlPoint(node);
}

void readControlPoint(pugi::xml_node node) { readPoint(node, controlPoints, readNotes); }

void readControlPoint(pugi::xml_node node, ReadPoints& into) { readPoint(node, into.points, into.notes); }

void appendReadPoints(ReadPoints& read) {
  const int offset = static_cast<int>(controlPoints.size());
  ReadNotes& notes = read.notes;
  for (ValueNote& note : notes.values) {
    if (!keepsValueNote()) continue;
    note.number += offset;
    readNotes.values.push_back(std::move(note));
  }
  readNotes.valuesNotKept += notes.valuesNotKept;
  moveIndexed(notes.positions, readNotes.positions, offset, &PositionNote::point);
  moveIndexed(notes.checkPoints, readNotes.checkPoints, offset, &CheckPointNote::point);
  for (const int index : notes.lostPointNames) readNotes.lostPointNames.push_back(index + offset);
  notes = ReadNotes();
  for (ControlPoint& point : read.points) appendControlPoint(std::move(point));
  read.points.clear();
}
