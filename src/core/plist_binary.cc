// The binary property-list form ("bplist00"): a header, the objects, a
// table of object offsets and a 32-byte trailer that says where the table
// is, how wide its entries and the object references are, and which object
// is the top one.
//
// Every offset, count and reference comes from the file, so each is checked
// before use: objects must lie between the header and the offset table,
// references must name an object, a container may not contain itself, and
// the number of values produced is bounded by the file's size, so objects
// shared many times over cannot make the result explode.
#include <bit>
#include <cstring>
#include <limits>
#include <vector>

#include "core/plist_formats.h"
#include "core/text.h"
#include "sentrel/plist_reader.h"

namespace sentrel::plist {

namespace {

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kTrailerSize = 32;

struct Failure {
  std::string where;
  std::string message;
};

class BinaryReader {
 public:
  explicit BinaryReader(std::string_view b) : b_(b) {}

  Value document() {
    if (b_.size() < kHeaderSize + kTrailerSize + 1) fail("offset 0", "too short");
    std::size_t t = b_.size() - kTrailerSize;
    offsetSize_ = byte(t + 6);
    refSize_ = byte(t + 7);
    std::uint64_t count = be(t + 8, 8), top = be(t + 16, 8), table = be(t + 24, 8);
    auto widthOk = [](std::size_t w) { return w == 1 || w == 2 || w == 4 || w == 8; };
    if (!widthOk(offsetSize_) || !widthOk(refSize_)) fail("trailer", "bad integer widths");
    if (table < kHeaderSize || table >= t) fail("trailer", "offset table out of range");
    if (count == 0 || count > (t - table) / offsetSize_) fail("trailer", "bad object count");
    if (top >= count) fail("trailer", "top object out of range");
    tableOffset_ = static_cast<std::size_t>(table);
    objectCount_ = count;
    onPath_.assign(static_cast<std::size_t>(count), false);
    budget_ = b_.size() * 4 + 1024;
    return object(top, 0);
  }

 private:
  [[noreturn]] static void fail(std::string where, std::string message) {
    throw Failure{std::move(where), std::move(message)};
  }
  [[noreturn]] void fail(std::uint64_t index, std::string message) {
    fail("object " + std::to_string(index), std::move(message));
  }

  std::uint8_t byte(std::size_t at) const { return static_cast<std::uint8_t>(b_[at]); }

  // A big-endian unsigned number of `n` (1 to 8) bytes; the caller has
  // checked that they lie inside the file.
  std::uint64_t be(std::size_t at, std::size_t n) const {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) v = v << 8 | byte(at + i);
    return v;
  }

  // True when [start, start + length) lies inside the object area.
  bool inside(std::size_t start, std::uint64_t length) const {
    return start <= tableOffset_ && length <= tableOffset_ - start;
  }

  std::size_t offsetOf(std::uint64_t index) {
    std::uint64_t at =
        be(tableOffset_ + static_cast<std::size_t>(index) * offsetSize_, offsetSize_);
    if (at < kHeaderSize || at >= tableOffset_) fail(index, "offset out of range");
    return static_cast<std::size_t>(at);
  }

  // The element count of a data, string or container object: the low
  // nibble, or a following integer object when the nibble is 15.
  std::uint64_t countOf(std::uint64_t index, std::size_t at, std::size_t& start) {
    std::uint8_t info = byte(at) & 0x0F;
    if (info != 0x0F) {
      start = at + 1;
      return info;
    }
    if (!inside(at + 1, 1)) fail(index, "truncated count");
    std::uint8_t marker = byte(at + 1);
    if ((marker & 0xF0) != 0x10 || (marker & 0x0F) > 3) fail(index, "malformed count");
    std::size_t width = std::size_t{1} << (marker & 0x0F);
    if (!inside(at + 2, width)) fail(index, "truncated count");
    start = at + 2 + width;
    return be(at + 2, width);
  }

  // The bytes of an object's payload, checked to lie inside the object area.
  std::string_view payload(std::uint64_t index, std::size_t start, std::uint64_t count,
                           std::uint64_t unit) {
    if (count > tableOffset_ / unit || !inside(start, count * unit)) fail(index, "truncated");
    return b_.substr(start, static_cast<std::size_t>(count * unit));
  }

  std::uint64_t reference(std::string_view refs, std::size_t i, std::uint64_t index) {
    std::size_t at = static_cast<std::size_t>(refs.data() - b_.data()) + i * refSize_;
    std::uint64_t ref = be(at, refSize_);
    if (ref >= objectCount_) fail(index, "reference out of range");
    return ref;
  }

  Value object(std::uint64_t index, int depth) {
    if (depth > kMaxPropertyListDepth) fail(index, "nested too deeply");
    if (budget_ == 0) fail(index, "too many values for the size of the file");
    --budget_;
    std::size_t at = offsetOf(index);
    std::uint8_t marker = byte(at);
    std::uint8_t info = marker & 0x0F;
    std::size_t start = at + 1;
    switch (marker >> 4) {
      case 0x0:
        if (marker == 0x00) return Value();
        if (marker == 0x08) return Value(false);
        if (marker == 0x09) return Value(true);
        fail(index, "unknown simple object");
      case 0x1:
        return integer(index, start, info);
      case 0x2: {
        if (info == 2) {
          payload(index, start, 4, 1);
          return Value(std::bit_cast<float>(static_cast<std::uint32_t>(be(start, 4))));
        }
        if (info == 3) {
          payload(index, start, 8, 1);
          return Value(std::bit_cast<double>(be(start, 8)));
        }
        fail(index, "unsupported real width");
      }
      case 0x3: {
        if (marker != 0x33) fail(index, "malformed date");
        payload(index, start, 8, 1);
        auto text = isoDateFromReferenceSeconds(std::bit_cast<double>(be(start, 8)));
        if (!text) fail(index, "date out of range");
        return Value(std::move(*text));
      }
      case 0x4: {
        std::uint64_t n = countOf(index, at, start);
        std::string_view bytes = payload(index, start, n, 1);
        return Value(Data(bytes.begin(), bytes.end()));
      }
      case 0x5: {
        std::uint64_t n = countOf(index, at, start);
        std::string_view chars = payload(index, start, n, 1);
        for (char c : chars) {
          if (static_cast<unsigned char>(c) >= 0x80)
            fail(index, "ASCII string with a byte above 127");
        }
        return Value(std::string(chars));
      }
      case 0x6: {
        std::uint64_t n = countOf(index, at, start);
        return Value(utf16(index, payload(index, start, n, 2)));
      }
      case 0x7: {
        std::uint64_t n = countOf(index, at, start);
        std::string_view chars = payload(index, start, n, 1);
        if (!text::isValidUtf8(chars)) fail(index, "UTF-8 string that is not UTF-8");
        return Value(std::string(chars));
      }
      case 0x8: {
        std::size_t width = std::size_t{info} + 1;
        if (width > 8) fail(index, "UID wider than 64 bits");
        payload(index, start, width, 1);
        return Value(Dict{{"CF$UID", Value(be(start, width))}});
      }
      case 0xA:
      case 0xB:
      case 0xC: {
        std::uint64_t n = countOf(index, at, start);
        std::string_view refs = payload(index, start, n, refSize_);
        Array out;
        Enter enter(*this, index);
        for (std::size_t i = 0; i < n; ++i)
          out.push_back(object(reference(refs, i, index), depth + 1));
        return Value(std::move(out));
      }
      case 0xD: {
        std::uint64_t n = countOf(index, at, start);
        if (n > tableOffset_ / 2) fail(index, "truncated");
        std::string_view refs = payload(index, start, n * 2, refSize_);
        Dict out;
        Enter enter(*this, index);
        for (std::size_t i = 0; i < n; ++i) {
          Value key = object(reference(refs, i, index), depth + 1);
          if (!key.ifString()) fail(index, "dictionary key that is not a string");
          out.set(*key.ifString(), object(reference(refs, n + i, index), depth + 1));
        }
        return Value(std::move(out));
      }
      default:
        fail(index, "unknown object type");
    }
  }

  Value integer(std::uint64_t index, std::size_t start, std::uint8_t info) {
    if (info > 4) fail(index, "unsupported integer width");
    std::size_t width = std::size_t{1} << info;
    payload(index, start, width, 1);
    if (info < 3) return Value(static_cast<std::int64_t>(be(start, width)));
    if (info == 3) return Value(static_cast<std::int64_t>(be(start, 8)));
    // 128-bit: only values that a 64-bit number holds are accepted.
    std::uint64_t high = be(start, 8), low = be(start + 8, 8);
    if (high == 0) {
      if (low <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return Value(static_cast<std::int64_t>(low));
      return Value(low);
    }
    if (high == ~std::uint64_t{0} && (low >> 63) != 0) return Value(static_cast<std::int64_t>(low));
    fail(index, "integer wider than 64 bits");
  }

  std::string utf16(std::uint64_t index, std::string_view units) {
    std::string out;
    std::size_t n = units.size() / 2;
    auto unit = [&](std::size_t i) {
      return static_cast<char32_t>(static_cast<unsigned char>(units[2 * i]) << 8 |
                                   static_cast<unsigned char>(units[2 * i + 1]));
    };
    for (std::size_t i = 0; i < n; ++i) {
      char32_t c = unit(i);
      if (c >= 0xD800 && c <= 0xDBFF) {
        if (i + 1 >= n || unit(i + 1) < 0xDC00 || unit(i + 1) > 0xDFFF)
          fail(index, "unpaired UTF-16 surrogate");
        c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
        ++i;
      } else if (c >= 0xDC00 && c <= 0xDFFF) {
        fail(index, "unpaired UTF-16 surrogate");
      }
      text::appendUtf8(out, c);
    }
    return out;
  }

  // Marks a container as being read, so a reference back to it is refused.
  class Enter {
   public:
    Enter(BinaryReader& r, std::uint64_t index) : r_(r), index_(static_cast<std::size_t>(index)) {
      if (r_.onPath_[index_]) r_.fail(index, "container that contains itself");
      r_.onPath_[index_] = true;
    }
    ~Enter() { r_.onPath_[index_] = false; }
    Enter(const Enter&) = delete;
    Enter& operator=(const Enter&) = delete;

   private:
    BinaryReader& r_;
    std::size_t index_;
  };

  std::string_view b_;
  std::size_t offsetSize_ = 0;
  std::size_t refSize_ = 0;
  std::size_t tableOffset_ = 0;
  std::uint64_t objectCount_ = 0;
  std::vector<bool> onPath_;
  std::size_t budget_ = 0;
};

}  // namespace

std::optional<Value> parseBinary(std::string_view bytes, ReadError* error) {
  try {
    return BinaryReader(bytes).document();
  } catch (const Failure& f) {
    if (error) *error = {f.where, f.message};
    return std::nullopt;
  }
}

}  // namespace sentrel::plist
