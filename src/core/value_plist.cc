#include <cmath>

#include "sentrel/value_io.h"

namespace sentrel {

namespace {

// Text as element content. XML 1.0 has no way to carry the C0 control
// characters other than tab, line feed and carriage return (not even as
// character references), nor U+FFFE and U+FFFF; drive texts can hold them
// (an NVMe identify field keeps its zero bytes), so each is written as
// U+FFFD and the document stays well-formed.
void escape(std::string& out, std::string_view s) {
  constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\t':
      case '\n':
      case '\r': out += c; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out += kReplacement;
        } else if (c == '\xEF' && i + 2 < s.size() && s[i + 1] == '\xBF' &&
                   (s[i + 2] == '\xBE' || s[i + 2] == '\xBF')) {
          out += kReplacement;  // U+FFFE or U+FFFF
          i += 2;
        } else {
          out += c;
        }
    }
  }
}

std::string base64(const Data& bytes) {
  static const char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    unsigned n = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
    out += table[n >> 18];
    out += table[n >> 12 & 63];
    out += table[n >> 6 & 63];
    out += table[n & 63];
  }
  if (i + 1 == bytes.size()) {
    unsigned n = bytes[i] << 16;
    out += table[n >> 18];
    out += table[n >> 12 & 63];
    out += "==";
  } else if (i + 2 == bytes.size()) {
    unsigned n = bytes[i] << 16 | bytes[i + 1] << 8;
    out += table[n >> 18];
    out += table[n >> 12 & 63];
    out += table[n >> 6 & 63];
    out += '=';
  }
  return out;
}

class PlistWriter {
 public:
  void write(const Value& v, int depth) {
    if (const Image* image = v.ifImage()) {
      write(Value(Dict{{"image", image->name}, {"width", image->width}, {"height", image->height}}),
            depth);
      return;
    }
    indent(depth);
    switch (v.kind()) {
      case Value::Kind::null: out_ += "<string></string>"; break;
      case Value::Kind::boolean: out_ += *v.ifBool() ? "<true/>" : "<false/>"; break;
      case Value::Kind::integer: tag("integer", std::to_string(*v.ifInt())); break;
      case Value::Kind::unsignedInteger: tag("integer", std::to_string(*v.ifUInt())); break;
      case Value::Kind::real: tag("real", formatReal(*v.ifReal())); break;
      case Value::Kind::real32: tag("real", formatReal32(*v.ifReal32())); break;
      case Value::Kind::string: tag("string", *v.ifString()); break;
      case Value::Kind::styledText: tag("string", v.ifStyledText()->text); break;
      case Value::Kind::color: tag("string", colorName(*v.ifColor())); break;
      case Value::Kind::data: tag("data", base64(*v.ifData())); break;
      case Value::Kind::image: break;  // written as a dictionary above
      case Value::Kind::array: {
        const Array& a = *v.ifArray();
        if (a.empty()) {
          out_ += "<array/>\n";
          return;
        }
        out_ += "<array>\n";
        for (const Value& item : a) write(item, depth + 1);
        indent(depth);
        out_ += "</array>";
        break;
      }
      case Value::Kind::dict: {
        const Dict& d = *v.ifDict();
        if (d.empty()) {
          out_ += "<dict/>\n";
          return;
        }
        out_ += "<dict>\n";
        for (const auto& entry : d) {
          indent(depth + 1);
          tag("key", entry.key);
          out_ += '\n';
          write(entry.value, depth + 1);
        }
        indent(depth);
        out_ += "</dict>";
        break;
      }
    }
    out_ += '\n';
  }

  std::string take() { return std::move(out_); }

 private:
  void indent(int depth) { out_.append(static_cast<std::size_t>(depth), '\t'); }
  void tag(const char* name, std::string_view text) {
    out_ += '<';
    out_ += name;
    out_ += '>';
    escape(out_, text);
    out_ += "</";
    out_ += name;
    out_ += '>';
  }

  std::string out_;
};

}  // namespace

std::string toXmlPlist(const Value& value) {
  PlistWriter writer;
  writer.write(value, 0);
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n" +
         writer.take() + "</plist>\n";
}

}  // namespace sentrel
