#include "disks/plist_shape.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

using PlistShape::kMaximumDepth;
using PlistShape::kMaximumValues;

// ---- Binary: objects addressed through an offset table, containers hold
// references (object numbers) to their elements.

struct Trailer {
  std::size_t offsetSize = 0;
  std::size_t referenceSize = 0;
  uint64_t objects = 0;
  uint64_t root = 0;
  uint64_t tableOffset = 0;
};

constexpr std::size_t kHeaderBytes = 8;
constexpr std::size_t kTrailerBytes = 32;

std::optional<uint64_t> bigEndian(std::string_view bytes, uint64_t at, std::size_t width) {
  if (width == 0 || width > 8 || at > bytes.size() || bytes.size() - at < width)
    return std::nullopt;
  uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i)
    value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

std::optional<Trailer> readTrailer(std::string_view bytes) {
  if (bytes.size() < kHeaderBytes + kTrailerBytes) return std::nullopt;
  const uint64_t at = bytes.size() - kTrailerBytes;
  Trailer t;
  t.offsetSize = static_cast<unsigned char>(bytes[at + 6]);
  t.referenceSize = static_cast<unsigned char>(bytes[at + 7]);
  t.objects = *bigEndian(bytes, at + 8, 8);
  t.root = *bigEndian(bytes, at + 16, 8);
  t.tableOffset = *bigEndian(bytes, at + 24, 8);
  if (t.offsetSize == 0 || t.offsetSize > 8 || t.referenceSize == 0 || t.referenceSize > 8)
    return std::nullopt;
  if (t.objects == 0 || t.root >= t.objects || t.tableOffset < kHeaderBytes || t.tableOffset > at)
    return std::nullopt;
  if ((at - t.tableOffset) / t.offsetSize < t.objects) return std::nullopt;
  return t;
}

// The element references of a container object: where they start and how
// many there are (a dictionary's keys and values together); none for a value
// that holds no others. Nothing when the object cannot be read.
struct Elements {
  uint64_t first = 0;
  uint64_t count = 0;
  bool dictionary = false;  // the first half of the references are its keys
};

// An object's marker and where its content starts, its count read from the
// marker or, when the marker says so, from the integer object after it.
struct Header {
  unsigned type = 0;
  uint64_t count = 0;
  uint64_t first = 0;
};

std::optional<Header> headerOf(std::string_view bytes, const Trailer& t, uint64_t object) {
  const auto offset = bigEndian(bytes, t.tableOffset + object * t.offsetSize, t.offsetSize);
  if (!offset || *offset < kHeaderBytes || *offset >= t.tableOffset) return std::nullopt;
  const auto marker = static_cast<unsigned char>(bytes[*offset]);
  Header h{static_cast<unsigned>(marker >> 4), static_cast<uint64_t>(marker & 0x0F),
           *offset + 1};
  if (h.count == 0x0F) {
    const auto sizeMarker = bigEndian(bytes, h.first, 1);
    if (!sizeMarker || (*sizeMarker >> 4) != 0x1) return std::nullopt;
    const std::size_t width = std::size_t{1} << (*sizeMarker & 0x0F);
    const auto longCount = bigEndian(bytes, h.first + 1, width);
    if (!longCount) return std::nullopt;
    h.count = *longCount;
    h.first += 1 + width;
  }
  return h;
}

// A dictionary key is an ASCII (0x5) or UTF-16 (0x6) string without a NUL:
// the parser's key accessors take keys as C strings, and one cut short at a
// NUL would no longer be the key the list holds.
bool isPlainKey(std::string_view bytes, const Trailer& t, uint64_t object) {
  const auto h = headerOf(bytes, t, object);
  if (!h || (h->type != 0x5 && h->type != 0x6)) return false;
  const uint64_t unit = h->type == 0x5 ? 1 : 2;
  if (h->count > (t.tableOffset - std::min(h->first, t.tableOffset)) / unit) return false;
  for (uint64_t i = 0; i < h->count; ++i)
    if (*bigEndian(bytes, h->first + i * unit, unit) == 0) return false;
  return true;
}

std::optional<Elements> elementsOf(std::string_view bytes, const Trailer& t, uint64_t object) {
  const auto h = headerOf(bytes, t, object);
  if (!h) return std::nullopt;
  // Arrays (0xA), ordered sets (0xB), sets (0xC) and dictionaries (0xD).
  if (h->type < 0xA || h->type > 0xD) return Elements{};
  Elements e{h->first, h->count, h->type == 0xD};
  if (e.dictionary) {
    if (e.count > UINT64_MAX / 2) return std::nullopt;
    e.count *= 2;
  }
  if (e.count > (t.tableOffset - std::min(e.first, t.tableOffset)) / t.referenceSize)
    return std::nullopt;
  return e;
}

// Depth-first over the object graph, each object once: its depth and the
// values it expands to, counted through every reference. A reference back
// into the current path is a cycle.
bool binaryWithinBounds(std::string_view bytes) {
  const auto t = readTrailer(bytes);
  if (!t) return false;
  enum class State : uint8_t { kUnseen, kOnPath, kDone };
  std::vector<State> state(t->objects, State::kUnseen);
  std::vector<uint64_t> depth(t->objects, 0), values(t->objects, 0);
  struct Frame {
    uint64_t object;
    Elements elements;
    uint64_t next = 0;
  };
  std::vector<Frame> path;
  const auto enter = [&](uint64_t object) {
    const auto elements = elementsOf(bytes, *t, object);
    if (!elements) return false;
    state[object] = State::kOnPath;
    depth[object] = 1;
    values[object] = 1;
    path.push_back({object, *elements});
    return path.size() <= kMaximumDepth;
  };
  if (!enter(t->root)) return false;
  while (!path.empty()) {
    Frame& frame = path.back();
    if (frame.next == frame.elements.count) {
      state[frame.object] = State::kDone;
      path.pop_back();
      continue;
    }
    // Each reference lies before the offset table: elementsOf checked it.
    const auto child = *bigEndian(
        bytes, frame.elements.first + frame.next * t->referenceSize, t->referenceSize);
    if (child >= t->objects || state[child] == State::kOnPath) return false;
    if (frame.elements.dictionary && frame.next < frame.elements.count / 2 &&
        !isPlainKey(bytes, *t, child))
      return false;
    // A child not yet seen is walked first; its container takes its counts
    // when it comes back to the same reference.
    if (state[child] == State::kUnseen) {
      if (!enter(child)) return false;
      continue;
    }
    ++frame.next;
    depth[frame.object] = std::max(depth[frame.object], depth[child] + 1);
    values[frame.object] += values[child];
    if (depth[frame.object] > kMaximumDepth || values[frame.object] > kMaximumValues)
      return false;
  }
  return true;
}

// ---- XML: the nesting of <array> and <dict> elements. From the first of them
// on, every tag must be plain: no comment, declaration, processing
// instruction, quote or stray '<' inside, so that this count and the parser
// cannot disagree on where a tag starts and ends. Property lists written by
// the system have only such tags there.

// Whether `tag` (the text between '<' and '>') names an array or dictionary.
bool namesContainer(std::string_view tag) {
  for (const std::string_view name : {"array", "dict"}) {
    if (tag.substr(0, name.size()) != name) continue;
    if (tag.size() == name.size()) return true;
    const char next = tag[name.size()];
    if (next == '/' || next == ' ' || next == '\t' || next == '\r' || next == '\n') return true;
  }
  return false;
}

bool xmlWithinBounds(std::string_view text) {
  std::size_t depth = 0;
  for (std::size_t at = std::min(text.find("<array"), text.find("<dict")); at != text.npos;
       at = text.find('<', at)) {
    const std::size_t end = text.find('>', at);
    if (end == text.npos) return false;
    const std::string_view tag = text.substr(at + 1, end - at - 1);
    if (tag.empty() || tag.front() == '!' || tag.front() == '?' ||
        tag.find_first_of("<\"'") != tag.npos)
      return false;
    if (tag.front() == '/') {
      if (namesContainer(tag.substr(1)) && depth > 0) --depth;
    } else if (namesContainer(tag) && tag.back() != '/' && ++depth > kMaximumDepth) {
      return false;
    }
    at = end + 1;
  }
  return true;
}

// Replaces, in the UTF-16 string object at `first` with `count` units, each
// unit of a surrogate pair that is not whole by U+FFFD.
void replaceLoneSurrogates(std::string& bytes, uint64_t first, uint64_t count) {
  const auto unit = [&](uint64_t i) { return *bigEndian(bytes, first + 2 * i, 2); };
  const auto isHigh = [](uint64_t u) { return u >= 0xD800 && u <= 0xDBFF; };
  const auto isLow = [](uint64_t u) { return u >= 0xDC00 && u <= 0xDFFF; };
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t u = unit(i);
    if (isHigh(u) && i + 1 < count && isLow(unit(i + 1))) {
      ++i;
    } else if (isHigh(u) || isLow(u)) {
      bytes[first + 2 * i] = static_cast<char>(0xFF);
      bytes[first + 2 * i + 1] = static_cast<char>(0xFD);
    }
  }
}

}  // namespace

namespace PlistShape {

std::string withWholeSurrogates(std::string_view bytes) {
  std::string out(bytes);
  const auto t = readTrailer(bytes);
  if (bytes.substr(0, kHeaderBytes) != "bplist00" || !t) return out;
  for (uint64_t object = 0; object < t->objects; ++object) {
    const auto h = headerOf(bytes, *t, object);
    if (!h || h->type != 0x6 || h->first > t->tableOffset ||
        h->count > (t->tableOffset - h->first) / 2)
      continue;
    replaceLoneSurrogates(out, h->first, h->count);
  }
  return out;
}

bool withinBounds(std::string_view bytes) {
  if (bytes.substr(0, kHeaderBytes) == "bplist00") return binaryWithinBounds(bytes);
  return xmlWithinBounds(bytes);
}

}  // namespace PlistShape
