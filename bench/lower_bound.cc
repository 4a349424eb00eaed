// bench_lower_bound FILE.xml: the least work any converter of FILE must do,
// on one thread, as a yardstick for the tool's time and memory. It writes
// the GCI file beside FILE (FILE without its last suffix, plus ".gci"), with
// the same bytes as the tool on the blocks that bench/make_block.py writes
// in UTF-8; the benchmark checks that in every run.
//
// What it does, and no more:
// - reads the file once, 1 MiB at a time, into one buffer;
// - checks every tag against a stack of open element names (a start tag
//   pushes, an end tag must match the top and pops), stepping over
//   comments, processing instructions and CDATA sections and over quoted
//   attribute values that hold '>' or '/';
// - parses the values the tool keeps: photo ids, image paths and the image
//   size in force per photo, point names, positions, check-point flags and
//   measurements (photo id, x, y), into plain records;
// - converts the measurements to image-centred coordinates and formats the
//   GCI text with std::to_chars, writing it 1 MiB at a time.
//
// It is no converter: it decodes no entity references and no encoding but
// UTF-8, and takes the first photo with an id and the last value of a
// repeated field, as the generated blocks need. It refuses what it does not
// handle (exit status 1), so a wrong figure cannot pass for a bound.
//
// Exit status 0 when the GCI file was written (or there were no control
// points), 1 otherwise with the reason on standard error, 2 on a wrong
// command line.

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

constexpr std::size_t kPiece = std::size_t{1} << 20;

// What an open element is to the converter.
enum Role : std::uint8_t {
  kOther,  // nothing read inside
  kRoot,
  kBlock,
  kPhotogroups,
  kPhotogroup,
  kGroupSize,
  kGroupWidth,
  kGroupHeight,
  kPhoto,
  kPhotoId,
  kPhotoPath,
  kControlPoints,
  kPoint,
  kPointName,
  kPosition,
  kPositionX,
  kPositionY,
  kPositionZ,
  kCheckPoint,
  kMeasurement,
  kMeasurementId,
  kMeasurementX,
  kMeasurementY,
};

struct Photo {
  std::uint32_t path = 0;  // offset of the path in `text`
  std::uint32_t pathSize = 0;
  int width = 0;
  int height = 0;
};

struct Measurement {
  int photoId = 0;
  double x = 0.0;
  double y = 0.0;
};

struct Point {
  std::string name;
  double x = 0.0, y = 0.0, z = 0.0;
  int category = 1;
  std::size_t firstMeasurement = 0;
  std::size_t measurementCount = 0;
};

struct Open {
  std::uint32_t nameStart;
  std::uint32_t nameSize;
  Role role;
};

[[noreturn]] void die(const char* path, const char* what) {
  std::fprintf(stderr, "bench_lower_bound: %s: %s\n", path, what);
  std::exit(1);
}

template <std::size_t N>
bool is(std::string_view name, const char (&literal)[N]) {
  return name.size() == N - 1 && std::memcmp(name.data(), literal, N - 1) == 0;
}

int integerOf(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\n' || text.front() == '\r'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\n' || text.back() == '\r'))
    text.remove_suffix(1);
  int value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size() ? value : 0;
}

double realOf(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\n' || text.front() == '\r'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\n' || text.back() == '\r'))
    text.remove_suffix(1);
  double value = 0.0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size() ? value : 0.0;
}

class Converter {
 public:
  explicit Converter(const char* path) : path_(path) {}

  // Reads and checks the whole file into the records.
  void read() {
    const int fd = ::open(path_, O_RDONLY);
    if (fd < 0) die(path_, "cannot open");
    buffer_.resize(2 * kPiece);
    std::size_t size = 0;  // bytes in buffer_
    std::size_t done = 0;  // bytes of buffer_ handled
    bool end = false;
    bool first = true;
    while (true) {
      done = scan(buffer_.data(), done, size, end);
      if (end) break;
      // Keep what is not handled yet, then read the next piece behind it.
      std::memmove(buffer_.data(), buffer_.data() + done, size - done);
      size -= done;
      done = 0;
      if (buffer_.size() - size < kPiece) buffer_.resize(buffer_.size() * 2);
      const ssize_t count = ::read(fd, buffer_.data() + size, kPiece);
      if (count < 0) die(path_, "cannot read");
      if (count == 0) end = true;
      if (first && count >= 2 &&
          (buffer_[0] == '\xFF' || buffer_[0] == '\xFE' || buffer_[0] == '\0' || buffer_[1] == '\0')) {
        die(path_, "not UTF-8: this yardstick reads UTF-8 only");
      }
      first = false;
      size += static_cast<std::size_t>(count);
    }
    ::close(fd);
    if (!stack_.empty()) die(path_, "an element is not closed");
    if (!sawRoot_) die(path_, "no root element");
  }

  // Converts and writes the GCI file; false when there are no control points.
  bool write() const;

 private:
  // Handles the markup and texts of data[from, size) that are complete;
  // returns where the first incomplete one starts. At the end of the file
  // everything must be complete.
  std::size_t scan(char* data, std::size_t from, std::size_t size, bool end) {
    std::size_t at = from;
    while (at < size) {
      if (data[at] != '<') {
        const char* lt = static_cast<const char*>(std::memchr(data + at, '<', size - at));
        if (lt == nullptr) {
          if (!end && wantsText()) return at;
          if (wantsText()) text(std::string_view(data + at, size - at));
          return size;
        }
        const std::size_t stop = static_cast<std::size_t>(lt - data);
        if (wantsText()) text(std::string_view(data + at, stop - at));
        at = stop;
        continue;
      }
      const std::size_t next = markup(data, at, size);
      if (next == 0) {
        if (end) die(path_, "the file ends inside markup");
        return at;
      }
      at = next;
    }
    return at;
  }

  // Whether the text that comes next is a value the converter keeps.
  bool wantsText() const {
    if (stack_.empty() || texted_) return false;
    switch (stack_.back().role) {
      case kGroupWidth:
      case kGroupHeight:
      case kPhotoId:
      case kPhotoPath:
      case kPointName:
      case kPositionX:
      case kPositionY:
      case kPositionZ:
      case kCheckPoint:
      case kMeasurementId:
      case kMeasurementX:
      case kMeasurementY:
        return true;
      default:
        return false;
    }
  }

  // Handles the markup at data[at] (a '<'); returns the position after it,
  // or 0 when it is not complete in data[at, size).
  std::size_t markup(const char* data, std::size_t at, std::size_t size) {
    const char* p = data + at;
    const char* limit = data + size;
    if (limit - p < 2) return 0;
    if (p[1] == '!') {
      if (limit - p >= 4 && std::memcmp(p, "<!--", 4) == 0) return after(data, p + 4, limit, "-->");
      if (limit - p >= 9 && std::memcmp(p, "<![CDATA[", 9) == 0) {
        const std::size_t next = after(data, p + 9, limit, "]]>");
        if (next != 0 && wantsText()) text(std::string_view(p + 9, data + next - 3 - (p + 9)));
        return next;
      }
      if (limit - p < 9) return 0;
      return after(data, p + 2, limit, ">");  // a document type declaration without an internal subset
    }
    if (p[1] == '?') return after(data, p + 2, limit, "?>");
    if (p[1] == '/') {
      const char* gt = static_cast<const char*>(std::memchr(p + 2, '>', static_cast<std::size_t>(limit - p - 2)));
      if (gt == nullptr) return 0;
      const char* nameEnd = p + 2;
      while (nameEnd < gt && !isSpace(*nameEnd)) ++nameEnd;
      close(std::string_view(p + 2, static_cast<std::size_t>(nameEnd - p - 2)));
      return static_cast<std::size_t>(gt + 1 - data);
    }
    // A start tag: its name, then attributes up to '>' outside quotes.
    const char* q = p + 1;
    while (q < limit && !isSpace(*q) && *q != '>' && *q != '/') ++q;
    const std::string_view name(p + 1, static_cast<std::size_t>(q - p - 1));
    char quote = 0;
    for (; q < limit; ++q) {
      if (quote != 0) {
        if (*q == quote) quote = 0;
      } else if (*q == '"' || *q == '\'') {
        quote = *q;
      } else if (*q == '>') {
        break;
      }
    }
    if (q == limit) return 0;
    if (name.empty()) die(path_, "a tag without a name");
    open(name);
    if (q[-1] == '/') close(name);
    return static_cast<std::size_t>(q + 1 - data);
  }

  static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

  std::size_t after(const char* data, const char* from, const char* limit, const char* terminator) const {
    const std::size_t n = std::strlen(terminator);
    for (const char* q = from; q + n <= limit; ++q) {
      q = static_cast<const char*>(std::memchr(q, terminator[0], static_cast<std::size_t>(limit - q)));
      if (q == nullptr || q + n > limit) return 0;
      if (std::memcmp(q, terminator, n) == 0) return static_cast<std::size_t>(q + n - data);
    }
    return 0;
  }

  Role roleOf(std::string_view name) {
    if (stack_.empty()) {
      if (sawRoot_) die(path_, "a second root element");
      sawRoot_ = true;
      return kRoot;
    }
    switch (stack_.back().role) {
      case kRoot:
        if (is(name, "Block") && !sawBlock_) {
          sawBlock_ = true;
          return kBlock;
        }
        return kOther;
      case kBlock:
        if (is(name, "Photogroups")) return kPhotogroups;
        if (is(name, "ControlPoints")) return kControlPoints;
        return kOther;
      case kPhotogroups:
        return kPhotogroup;
      case kPhotogroup:
        if (is(name, "ImageDimensions")) return kGroupSize;
        if (is(name, "Photo")) {
          photo_ = Photo{0, 0, width_, height_};
          photoId_ = 0;
          return kPhoto;
        }
        return kOther;
      case kGroupSize:
        if (is(name, "Width")) return kGroupWidth;
        if (is(name, "Height")) return kGroupHeight;
        return kOther;
      case kPhoto:
        if (is(name, "Id")) return kPhotoId;
        if (is(name, "ImagePath")) return kPhotoPath;
        return kOther;
      case kControlPoints:
        point_ = Point{};
        point_.firstMeasurement = measurements_.size();
        return kPoint;
      case kPoint:
        if (is(name, "Name")) return kPointName;
        if (is(name, "Position")) return kPosition;
        if (is(name, "CheckPoint")) return kCheckPoint;
        if (is(name, "Measurement")) {
          measurements_.emplace_back();
          return kMeasurement;
        }
        return kOther;
      case kPosition:
        if (is(name, "x")) return kPositionX;
        if (is(name, "y")) return kPositionY;
        if (is(name, "z")) return kPositionZ;
        return kOther;
      case kMeasurement:
        if (is(name, "PhotoId")) return kMeasurementId;
        if (is(name, "x")) return kMeasurementX;
        if (is(name, "y")) return kMeasurementY;
        return kOther;
      default:
        return kOther;
    }
  }

  void open(std::string_view name) {
    const Role role = roleOf(name);
    stack_.push_back(Open{static_cast<std::uint32_t>(names_.size()), static_cast<std::uint32_t>(name.size()), role});
    names_.append(name);
    texted_ = false;
    if (role == kCheckPoint) point_.category = 1;
  }

  void close(std::string_view name) {
    if (stack_.empty()) die(path_, "an end tag without a start tag");
    const Open top = stack_.back();
    if (std::string_view(names_.data() + top.nameStart, top.nameSize) != name) die(path_, "mismatched end tag");
    stack_.pop_back();
    names_.resize(top.nameStart);
    texted_ = true;  // text after a child element is not the parent's value
    if (top.role == kPhoto) {
      photo_.pathSize = static_cast<std::uint32_t>(photoPathSize_);
      if (photos_.find(photoId_) == photos_.end()) {
        photo_.path = static_cast<std::uint32_t>(paths_.size());
        paths_.append(photoPath_, 0, photoPathSize_);
        photos_.emplace(photoId_, photo_);
      }
      photoPathSize_ = 0;
    } else if (top.role == kPoint) {
      point_.measurementCount = measurements_.size() - point_.firstMeasurement;
      points_.push_back(std::move(point_));
    }
  }

  void text(std::string_view value) {
    texted_ = true;
    switch (stack_.back().role) {
      case kGroupWidth:
        width_ = integerOf(value);
        break;
      case kGroupHeight:
        height_ = integerOf(value);
        break;
      case kPhotoId:
        photoId_ = integerOf(value);
        break;
      case kPhotoPath:
        photoPath_.assign(value);
        photoPathSize_ = value.size();
        break;
      case kPointName:
        point_.name.assign(value);
        break;
      case kPositionX:
        point_.x = realOf(value);
        break;
      case kPositionY:
        point_.y = realOf(value);
        break;
      case kPositionZ:
        point_.z = realOf(value);
        break;
      case kCheckPoint:
        point_.category = value == "true" ? 2 : 1;
        break;
      case kMeasurementId:
        measurements_.back().photoId = integerOf(value);
        break;
      case kMeasurementX:
        measurements_.back().x = realOf(value);
        break;
      case kMeasurementY:
        measurements_.back().y = realOf(value);
        break;
      default:
        break;
    }
  }

  const char* path_;
  std::vector<char> buffer_;
  std::vector<Open> stack_;
  std::string names_;
  bool texted_ = false;
  bool sawRoot_ = false;
  bool sawBlock_ = false;

  int width_ = 0, height_ = 0;  // the image size in force
  Photo photo_;
  int photoId_ = 0;
  std::string photoPath_;
  std::size_t photoPathSize_ = 0;
  std::unordered_map<int, Photo> photos_;
  std::string paths_;

  Point point_;
  std::vector<Point> points_;
  std::vector<Measurement> measurements_;
};

// Appends `value` as printf's "%*.*f" does, right-aligned in `width`.
char* fixed(char* out, double value, int width, int precision) {
  char digits[400];
  const auto result = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, precision);
  const int length = static_cast<int>(result.ptr - digits);
  for (int i = length; i < width; ++i) *out++ = ' ';
  std::memcpy(out, digits, static_cast<std::size_t>(length));
  return out + length;
}

char* integer(char* out, std::size_t value) { return std::to_chars(out, out + 24, value).ptr; }

// A name field: its bytes with CR and LF turned into blanks.
char* field(char* out, std::string_view text) {
  for (const char c : text) *out++ = (c == '\r' || c == '\n') ? ' ' : c;
  return out;
}

std::string_view baseName(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
  const std::size_t dot = path.rfind('.');
  return dot == std::string_view::npos ? path : path.substr(0, dot);
}

class Output {
 public:
  explicit Output(const std::string& path) : path_(path) {
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) die(path.c_str(), "cannot create");
    std::setvbuf(file_, nullptr, _IONBF, 0);
    buffer_.resize(2 * kPiece);
  }
  // Room for `bytes` more at the returned position; hand it back to done().
  char* room(std::size_t bytes) {
    if (used_ + bytes > buffer_.size()) {
      flush();
      if (bytes > buffer_.size()) buffer_.resize(bytes);
    }
    return buffer_.data() + used_;
  }
  void done(char* end) {
    used_ = static_cast<std::size_t>(end - buffer_.data());
    if (used_ >= kPiece) flush();
  }
  void finish() {
    flush();
    if (std::fclose(file_) != 0) die(path_.c_str(), "cannot write");
  }

 private:
  void flush() {
    if (used_ > 0 && std::fwrite(buffer_.data(), 1, used_, file_) != used_) die(path_.c_str(), "cannot write");
    used_ = 0;
  }
  std::string path_;
  std::FILE* file_;
  std::vector<char> buffer_;
  std::size_t used_ = 0;
};

}  // namespace

bool Converter::write() const {
  if (points_.empty()) return false;
  std::string output(path_);
  const std::size_t slash = output.rfind('/');
  const std::size_t dot = output.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) output.resize(dot);
  Output out(output + ".gci");
  constexpr std::size_t kNumbers = 3 * 400 + 64;  // the widest numbers of a line
  char* p = out.room(32);
  p = integer(p, points_.size());
  *p++ = '\r';
  *p++ = '\n';
  out.done(p);
  // What a measurement needs of its photo, found once per photo id: by a
  // table indexed by the id where it is small and not negative (as ids are),
  // else by a hash map.
  struct Image {
    double width, height;
    std::string_view name;
  };
  constexpr int kIndexed = 1 << 22;
  std::vector<Image> indexed;
  std::vector<bool> found;
  std::unordered_map<int, Image> images;
  const auto imageOf = [&](int id) -> const Image& {
    const bool small = id >= 0 && id < kIndexed;
    if (small && static_cast<std::size_t>(id) < found.size() && found[static_cast<std::size_t>(id)]) {
      return indexed[static_cast<std::size_t>(id)];
    }
    if (!small) {
      const auto known = images.find(id);
      if (known != images.end()) return known->second;
    }
    Image made{0.0, 0.0, std::string_view()};
    const auto photo = photos_.find(id);
    if (photo != photos_.end()) {
      made = Image{static_cast<double>(photo->second.width), static_cast<double>(photo->second.height),
                   baseName(std::string_view(paths_.data() + photo->second.path, photo->second.pathSize))};
    }
    if (!small) return images.emplace(id, made).first->second;
    const std::size_t at = static_cast<std::size_t>(id);
    if (at >= found.size()) {
      found.resize(at + 1, false);
      indexed.resize(at + 1);
    }
    found[at] = true;
    return indexed[at] = made;
  };
  for (const Point& point : points_) {
    p = out.room(point.name.size() + kNumbers);
    p = field(p, point.name);
    *p++ = ' ';
    p = fixed(p, point.x, 20, 8);
    *p++ = ' ';
    p = fixed(p, point.y, 12, 8);
    *p++ = ' ';
    p = fixed(p, point.z, 12, 3);
    *p++ = ' ';
    *p++ = static_cast<char>('0' + point.category);
    *p++ = '\r';
    *p++ = '\n';
    p = integer(p, point.measurementCount);
    *p++ = '\r';
    *p++ = '\n';
    out.done(p);
    for (std::size_t i = 0; i < point.measurementCount; ++i) {
      const Measurement& m = measurements_[point.firstMeasurement + i];
      const Image& im = imageOf(m.photoId);
      p = out.room(im.name.size() + kNumbers);
      p = field(p, im.name);
      *p++ = ' ';
      p = fixed(p, (m.x - im.width * 0.5) + 0.5, 20, 8);
      *p++ = ' ';
      p = fixed(p, (im.height * 0.5 - m.y) - 0.5, 20, 8);
      *p++ = ' ';
      *p++ = static_cast<char>('0' + point.category);
      *p++ = '\r';
      *p++ = '\n';
      out.done(p);
    }
  }
  out.finish();
  return true;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("Usage: bench_lower_bound FILE.xml\n", stderr);
    return 2;
  }
  Converter converter(argv[1]);
  converter.read();
  converter.write();
  return 0;
}
