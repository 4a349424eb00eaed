#include "convert/diagnostics.h"

#include "block/read_notes.h"
#include "convert/convert.h"

#include <QDebug>
#include <QHash>
#include <QSet>
#include <QTextCodec>

#include <cstdint>
#include <future>
#include <map>
#include <system_error>
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

// The lines of one kind: the first kMaxLinesPerKind are logged; the others
// are only counted and summed up in one line by finish().
class Capped {
 public:
  // `one` and `many` name what the summing-up line counts, such as
  // "value read as 0" and "values read as 0".
  Capped(const char* one, const char* many) : one_(one), many_(many) {}
  Capped(const Capped&) = delete;
  Capped& operator=(const Capped&) = delete;
  ~Capped() { finish(); }

  // Whether the next line of this kind is to be logged; counts it either way.
  bool admit() { return ++count_ <= kMaxLinesPerKind; }

  // Counts `more` lines of this kind that are not to be logged.
  void countMore(int more) { count_ += more; }

  // Logs "Warning: and N more ..." for the lines not logged, once.
  void finish() {
    const int more = count_ - kMaxLinesPerKind;
    if (more > 0) qDebug().nospace().noquote() << "Warning: and " << more << " more " << plural(more, one_, many_);
    count_ = 0;
  }

 private:
  const char* one_;
  const char* many_;
  int count_ = 0;
};

// The control point at `index` in controlPoints as the warnings name it: its
// name in quotes, or its 1-based position when it has none.
struct PointRef {
  size_t index;
};

QDebug operator<<(QDebug line, PointRef point) {
  const QString& name = controlPoints[point.index].name;
  if (name.isEmpty()) return line << static_cast<qulonglong>(point.index + 1);
  return line << name;
}

// A photogroup by its own name, or by its 1-based position when it has none.
struct GroupRef {
  const QString& name;
  int number;
};

QDebug operator<<(QDebug line, GroupRef group) {
  line << "photogroup ";
  if (group.name.isEmpty()) return line << group.number;
  return line << group.name;
}

// Logs ": " + what + the first few `items` (each put by `put`) and
// "and K more" for the others, out of `total`.
template <class Item, class Put>
void putList(QDebug& line, const char* one, const char* many, const std::vector<Item>& items, int total, Put put) {
  line << ": " << plural(total, one, many) << " ";
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) line << ", ";
    put(line, items[i]);
  }
  if (total > static_cast<int>(items.size())) line << " and " << total - static_cast<int>(items.size()) << " more";
}

// How many points or photos a line names before it counts the rest.
constexpr size_t kListed = 3;

void warnAboutSharedIds() {
  std::map<int, std::vector<QString>> dropped;
  for (const PhotoInfo& photo : droppedPhotos) dropped[photo.id].push_back(photo.imagePath);
  Capped capped("shared photo id", "shared photo ids");
  for (const auto& [id, paths] : dropped) {
    if (!capped.admit()) continue;
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

// A photo id that measurements name but no photo has.
struct UnknownId {
  int id = 0;
  int measurements = 0;
  int points = 0;
  size_t lastPoint = 0;        // the latest point counted
  std::vector<size_t> listed;  // the first points that name it
};

// A control point with measurements outside their image.
struct OutsideMeasurements {
  size_t point = 0;
  int count = 0;
  int photoCount = 0;       // the photos with such a measurement
  std::vector<int> photos;  // the first few of them, in measurement order
};

// A photo that measurements name, with the image name the GCI file gives it.
struct MeasuredPhoto {
  int id;
  const PhotoInfo* photo;
  QString imageName;
};

// What the warnings need to know of the measurements, gathered in one pass.
struct MeasurementSurvey {
  std::vector<UnknownId> unknown;            // in order of first appearance
  std::vector<OutsideMeasurements> outside;  // in point order
  std::vector<MeasuredPhoto> measured;       // the measured photos that exist, in id order
};

MeasurementSurvey surveyMeasurements() {
  MeasurementSurvey survey;
  // Photo id -> its photo, or null and its place in survey.unknown: one
  // look-up per measurement.
  struct Named {
    const PhotoInfo* photo = nullptr;
    size_t unknown = 0;
  };
  QHash<int, Named> named;
  for (size_t p = 0; p < controlPoints.size(); ++p) {
    const ControlPoint& point = controlPoints[p];
    OutsideMeasurements outside;
    QSet<int> outsidePhotos;
    for (const ImageMeasurement& measurement : point.measurements) {
      auto found = named.find(measurement.photoId);
      if (found == named.end()) {
        Named entry;
        const auto photo = photoTable.find(measurement.photoId);
        if (photo != photoTable.end()) {
          entry.photo = &photo->second;
        } else {
          entry.unknown = survey.unknown.size();
          survey.unknown.emplace_back();
          survey.unknown.back().id = measurement.photoId;
        }
        found = named.insert(measurement.photoId, entry);
      }
      const PhotoInfo* const photo = found->photo;
      if (!photo) {
        UnknownId& entry = survey.unknown[found->unknown];
        ++entry.measurements;
        if (entry.points == 0 || entry.lastPoint != p) {
          ++entry.points;
          entry.lastPoint = p;
          if (entry.listed.size() < kListed) entry.listed.push_back(p);
        }
        continue;
      }
      if (photo->width <= 0 || photo->height <= 0) continue;
      if (within(measurement.x, photo->width) && within(measurement.y, photo->height)) continue;
      ++outside.count;
      if (outsidePhotos.contains(measurement.photoId)) continue;
      outsidePhotos.insert(measurement.photoId);
      if (outside.photos.size() < kListed) outside.photos.push_back(measurement.photoId);
    }
    if (outside.count > 0) {
      outside.point = p;
      outside.photoCount = outsidePhotos.size();
      survey.outside.push_back(std::move(outside));
    }
  }
  for (const auto& [id, photo] : photoTable) {
    const auto found = named.constFind(id);
    if (found != named.constEnd()) survey.measured.push_back({id, &photo, imageBaseName(photo.imagePath)});
  }
  return survey;
}

void warnAboutUnknownIds(const std::vector<UnknownId>& unknown) {
  Capped capped("unknown photo id", "unknown photo ids");
  for (const UnknownId& entry : unknown) {
    if (!capped.admit()) continue;
    QDebug line = qDebug().nospace();
    line << "Warning: photo id " << entry.id << " is named by " << entry.measurements << " "
         << plural(entry.measurements, "measurement", "measurements") << " but no photo has it";
    putList(line, "control point", "control points", entry.listed, entry.points,
            [](QDebug& l, size_t p) { l << PointRef{p}; });
  }
}

// What the warnings say about each point's name, worked out in one pass by
// surveyNames.
enum NameFlag : unsigned char {
  EmptyName = 1,
  BlanksInName = 2,
  NotRepresentable = 4,  // in the local 8-bit encoding
};

void warnAboutPoints(const std::vector<OutsideMeasurements>& outside, const std::vector<unsigned char>& names) {
  Capped empty("control point with an empty name", "control points with an empty name");
  Capped blanks("control point with blanks in its name", "control points with blanks in their names");
  Capped outsideLines("control point with measurements outside their image",
                      "control points with measurements outside their image");
  auto nextOutside = outside.begin();
  for (size_t index = 0; index < controlPoints.size(); ++index) {
    const ControlPoint& point = controlPoints[index];
    if (names[index] & EmptyName) {
      if (empty.admit()) qDebug().nospace() << "Warning: control point " << index + 1 << " has an empty name";
    } else if (names[index] & BlanksInName) {
      if (blanks.admit()) qDebug().nospace() << "Warning: control point " << point.name << " has blanks in its name";
    }

    if (nextOutside == outside.end() || nextOutside->point != index) continue;
    const OutsideMeasurements& found = *nextOutside++;
    if (outsideLines.admit()) {
      QDebug line = qDebug().nospace();
      line << "Warning: control point " << PointRef{index} << " has " << found.count << " of "
           << static_cast<int>(point.measurements.size()) << " measurements outside their image";
      putList(line, "photo", "photos", found.photos, found.photoCount, [](QDebug& l, int id) { l << id; });
    }
  }
  empty.finish();
  blanks.finish();
  outsideLines.finish();
}

void warnAboutValues() {
  Capped capped("value read as 0", "values read as 0");
  for (const ValueNote& note : readNotes.values) {
    if (!capped.admit()) continue;
    QDebug line = qDebug().nospace();
    line << "Warning: ";
    switch (note.owner) {
      case ValueNote::ControlPoint:
        line << "control point " << PointRef{static_cast<size_t>(note.number)};
        break;
      case ValueNote::Photo:
        line << "photo " << note.label;
        break;
      case ValueNote::Photogroup:
        line << GroupRef{note.label, note.number};
        break;
    }
    line << ": ";
    line.noquote() << note.field;
    line.quote() << " " << note.text << (note.outOfRange ? " is out of range" : " is not a number") << ", read as 0";
  }
  capped.countMore(readNotes.valuesNotKept);
}

void warnAboutPositions() {
  Capped capped("control point without a full position", "control points without a full position");
  for (const PositionNote& note : readNotes.positions) {
    if (!capped.admit()) continue;
    QDebug line = qDebug().nospace();
    line << "Warning: control point " << PointRef{static_cast<size_t>(note.point)};
    if (note.noPosition) {
      line << " has no Position, written at 0, 0, 0";
      continue;
    }
    const QString& axes = note.coordinates;
    line << ": Position ";
    for (int i = 0; i < axes.size(); ++i) {
      if (i > 0) line << (i + 1 == axes.size() ? " and " : ", ");
      line.noquote() << axes[i];
    }
    line << (axes.size() == 1 ? " is" : " are") << " missing or empty, written as 0";
  }
}

void warnAboutCheckPoints() {
  Capped capped("control point with an unclear CheckPoint", "control points with an unclear CheckPoint");
  for (const CheckPointNote& note : readNotes.checkPoints) {
    if (!capped.admit()) continue;
    qDebug().nospace() << "Warning: control point " << PointRef{static_cast<size_t>(note.point)} << ": CheckPoint "
                       << note.text
                       << " is neither \"true\" nor \"false\", written as an ordinary control point (category 1)";
  }
}

// Points whose name an earlier point has: the first kMaxLinesPerKind of
// them, each with the first point of its name (indices into controlPoints),
// and how many there are in all.
struct SameNames {
  std::vector<std::pair<size_t, size_t>> listed;
  int count = 0;
};

SameNames findSameNames() {
  SameNames same;
  // The first point of each name in a table of open addressing: its index
  // + 1 (0 for a free slot) beside the name's hash, so that names are only
  // compared when their hashes are equal. A million points cost no node and
  // no copy of a name. (Indices fit in 32 bits: four billion points would
  // not fit in memory.)
  struct Slot {
    std::uint32_t hash;
    std::uint32_t point;
  };
  std::size_t tableSize = 16;
  while (tableSize < 2 * controlPoints.size()) tableSize *= 2;
  std::vector<Slot> first(tableSize, Slot{0, 0});
  for (size_t index = 0; index < controlPoints.size(); ++index) {
    const QString& name = controlPoints[index].name;
    if (name.isEmpty()) continue;
    const std::uint32_t hash = qHash(name);
    std::size_t slot = hash & (tableSize - 1);
    while (first[slot].point != 0 && (first[slot].hash != hash || controlPoints[first[slot].point - 1].name != name)) {
      slot = (slot + 1) & (tableSize - 1);
    }
    if (first[slot].point == 0) {
      first[slot] = Slot{hash, static_cast<std::uint32_t>(index + 1)};
      continue;
    }
    if (same.listed.size() < static_cast<size_t>(kMaxLinesPerKind))
      same.listed.emplace_back(first[slot].point - 1, index);
    ++same.count;
  }
  return same;
}

void warnAboutSameNames(const SameNames& same) {
  Capped capped("control point with a name used before", "control points with a name used before");
  for (const auto& [earlier, index] : same.listed) {
    capped.admit();
    qDebug().nospace() << "Warning: control points " << earlier + 1 << " and " << index + 1 << " have the same name "
                       << controlPoints[index].name;
  }
  capped.countMore(same.count - static_cast<int>(same.listed.size()));
}

void warnAboutPhotoSizes(const QSet<int>& measured) {
  Capped capped("photo with an image size not its own", "photos with an image size not their own");
  for (const PhotoSizeNote& note : readNotes.photoSizes) {
    if (!measured.contains(note.photoId) || !capped.admit()) continue;
    QDebug line = qDebug().nospace();
    line << "Warning: photo " << note.photoId << " (" << GroupRef{note.group, note.groupNumber} << ")";
    if (note.cause == PhotoSizeNote::NoneBefore) {
      line << " has the image size 0 x 0: no ImageDimensions comes before it";
      continue;
    }
    line << " takes the image size " << note.width << " x " << note.height << " of "
         << GroupRef{note.sizeGroup, note.sizeGroupNumber}
         << (note.cause == PhotoSizeNote::OwnComesAfter ? ": its own ImageDimensions comes after it"
                                                        : ": its photogroup has no ImageDimensions");
  }
}

void warnAboutImageNames(const std::vector<MeasuredPhoto>& measured) {
  Capped unusable("photo with an empty image name or blanks in it", "photos with an empty image name or blanks in it");
  Capped shared("photo with an image name used before", "photos with an image name used before");
  QHash<QString, const MeasuredPhoto*> first;  // image name -> the first measured photo with it
  for (const MeasuredPhoto& measuredPhoto : measured) {
    const int id = measuredPhoto.id;
    const PhotoInfo& photo = *measuredPhoto.photo;
    const QString& name = measuredPhoto.imageName;
    if (name.isEmpty()) {
      if (unusable.admit()) {
        qDebug().nospace() << "Warning: photo " << id << " (" << photo.imagePath << ") has an empty image name";
      }
      continue;
    }
    if (hasWhiteSpace(name) && unusable.admit()) {
      qDebug().nospace() << "Warning: photo " << id << " (" << photo.imagePath << ") has blanks in its image name "
                         << name;
    }
    const auto found = first.constFind(name);
    if (found == first.constEnd()) {
      first.insert(name, &measuredPhoto);
    } else {
      const MeasuredPhoto& earlier = **found;
      if (earlier.photo->imagePath != photo.imagePath && shared.admit()) {
        qDebug().nospace() << "Warning: photos " << earlier.id << " (" << earlier.photo->imagePath << ") and " << id
                           << " (" << photo.imagePath << ") have the same image name " << name;
      }
    }
  }
  unusable.finish();
  shared.finish();
}

// What to do about texts with bytes that are not UTF-8: such bytes are
// nearly always those of a file that an editor saved in the system's ANSI
// code page. The parser reads no Windows code page, and a declaration of
// one is read as UTF-8; of the 8-bit encodings it reads ISO-8859-1 alone.
const char kCodePageHint[] =
    "Warning: the block file is probably saved in a Windows code page, not in UTF-8: save it as UTF-8 (or declare "
    "its encoding if it is ISO-8859-1) and convert it again";

// `text` as the GCI file will hold it, read back.
QString asWritten(const QString& text, QTextCodec* codec) { return codec->toUnicode(codec->fromUnicode(text)); }

// Whether every character of `text` is written as itself in the local 8-bit
// encoding. A round trip rather than QTextCodec::canEncode, which the
// Windows code-page codec answers with yes for every text (it writes the
// nearest character or a question mark instead).
bool representable(const QString& text, QTextCodec* codec) {
  bool ascii = true;
  for (const QChar c : text) ascii = ascii && c.unicode() < 0x80;
  return ascii || asWritten(text, codec) == text;
}

// The NameFlags of every point, in point order.
std::vector<unsigned char> surveyNames() {
  QTextCodec* const codec = QTextCodec::codecForLocale();
  std::vector<unsigned char> flags(controlPoints.size(), 0);
  for (size_t index = 0; index < controlPoints.size(); ++index) {
    const QString& name = controlPoints[index].name;
    if (name.isEmpty()) {
      flags[index] = EmptyName;
      continue;
    }
    if (hasWhiteSpace(name)) flags[index] |= BlanksInName;
    if (!representable(name, codec)) flags[index] |= NotRepresentable;
  }
  return flags;
}

void warnAboutCharacters(const std::vector<MeasuredPhoto>& measured, const std::vector<unsigned char>& names) {
  Capped capped("text written with other characters", "texts written with other characters");
  QTextCodec* const codec = QTextCodec::codecForLocale();
  bool notUtf8 = false;  // a text with bytes that are not UTF-8, logged or not
  // The notes list the points in order: they are met as the points are.
  auto lost = readNotes.lostPointNames.begin();
  const auto lostEnd = readNotes.lostPointNames.end();
  for (size_t index = 0; index < controlPoints.size(); ++index) {
    const QString& name = controlPoints[index].name;
    while (lost != lostEnd && static_cast<size_t>(*lost) < index) ++lost;
    if (lost != lostEnd && static_cast<size_t>(*lost) == index) {
      notUtf8 = true;
      if (capped.admit()) {
        qDebug().nospace() << "Warning: control point " << PointRef{index}
                           << ": its name has bytes that are not UTF-8, written as replacement characters";
      }
    } else if ((names[index] & NotRepresentable) && capped.admit()) {
      qDebug().nospace() << "Warning: control point " << PointRef{index}
                         << ": its name has characters that the local 8-bit encoding cannot represent, written as "
                         << asWritten(name, codec);
    }
  }
  QSet<int> lostPaths;
  for (const int id : readNotes.lostImagePaths) lostPaths.insert(id);
  for (const MeasuredPhoto& measuredPhoto : measured) {
    const int id = measuredPhoto.id;
    const PhotoInfo& photo = *measuredPhoto.photo;
    const QString& name = measuredPhoto.imageName;
    if (lostPaths.contains(id) && name.contains(QChar(0xFFFD))) {
      notUtf8 = true;
      if (capped.admit()) {
        qDebug().nospace() << "Warning: photo " << id << " (" << photo.imagePath << "): its image name " << name
                           << " has bytes that are not UTF-8, written as replacement characters";
      }
    } else if (!representable(name, codec) && capped.admit()) {
      qDebug().nospace() << "Warning: photo " << id << " (" << photo.imagePath << "): its image name " << name
                         << " has characters that the local 8-bit encoding cannot represent, written as "
                         << asWritten(name, codec);
    }
  }
  // The advice comes once, after the texts it explains and their count.
  capped.finish();
  if (notUtf8) qDebug().noquote() << kCodePageHint;
}

// The points and measurements from which the warnings' passes run on two
// threads: below, starting a thread costs about as much as it saves.
constexpr std::size_t kTwoThreadsFrom = 16384;

}  // namespace

void warnAboutBlock() {
  // The passes over every point, which only read the stores, on two
  // threads where a block is large enough to pay for a second one and one
  // can be had: the measurements there, the names here.
  std::size_t work = controlPoints.size();
  for (auto point = controlPoints.begin(); point != controlPoints.end() && work < kTwoThreadsFrom; ++point) {
    work += point->measurements.size();
  }
  std::future<MeasurementSurvey> surveying;
  try {
    if (work >= kTwoThreadsFrom) surveying = std::async(std::launch::async, surveyMeasurements);
  } catch (const std::system_error&) {
    // Without a second thread, this one makes every pass.
  }
  const std::vector<unsigned char> names = surveyNames();
  const SameNames sameNames = findSameNames();
  const MeasurementSurvey survey = surveying.valid() ? surveying.get() : surveyMeasurements();
  warnAboutSharedIds();
  warnAboutUnknownIds(survey.unknown);
  warnAboutPoints(survey.outside, names);
  warnAboutValues();
  warnAboutPositions();
  warnAboutCheckPoints();
  warnAboutSameNames(sameNames);
  QSet<int> measuredIds;
  for (const MeasuredPhoto& photo : survey.measured) measuredIds.insert(photo.id);
  warnAboutPhotoSizes(measuredIds);
  warnAboutImageNames(survey.measured);
  warnAboutCharacters(survey.measured, names);
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
                     << plural(counts.controlPoints, "control point", "control points") << " (" << counts.checkPoints
                     << " " << plural(counts.checkPoints, "check point", "check points") << "), " << counts.measurements
                     << " " << plural(counts.measurements, "measurement", "measurements");
}
