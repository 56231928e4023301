#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "cli.h"
#include "sentrel/drivedb_parser.h"
#include "sentrel/failure.h"
#include "sentrel/value_io.h"

namespace sentrel::cli {

namespace {

// A scalar as a reader wants it: what "%@" prints, except that nothing is
// blank, booleans are words, and data and images are described.
std::string scalarText(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::null:
      return "";
    case Value::Kind::boolean:
      return *v.ifBool() ? "true" : "false";
    case Value::Kind::data:
      return "<" + toHex(*v.ifData()) + ">";
    case Value::Kind::image: {
      const Image& i = *v.ifImage();
      if (i.empty()) return "(no image)";
      return "image " + terminalSafe(i.name) + " " + formatReal(i.width) + "x" +
             formatReal(i.height);
    }
    default:
      return terminalSafe(formatObject(v));
  }
}

void render(std::string& out, const Value& v, int depth) {
  std::string pad(static_cast<std::size_t>(depth) * 2, ' ');
  if (const Dict* d = v.ifDict()) {
    for (const auto& e : *d) {
      bool nested = (e.value.ifDict() && !e.value.ifDict()->empty()) ||
                    (e.value.ifArray() && !e.value.ifArray()->empty());
      out += pad + terminalSafe(e.key) + ":";
      if (nested) {
        out += "\n";
        render(out, e.value, depth + 1);
      } else {
        std::string s = e.value.ifDict() ? "{}" : e.value.ifArray() ? "[]" : scalarText(e.value);
        out += s.empty() ? "\n" : " " + s + "\n";
      }
    }
  } else if (const Array* a = v.ifArray()) {
    for (std::size_t i = 0; i < a->size(); ++i) {
      const Value& item = (*a)[i];
      if (item.ifDict() || item.ifArray()) {
        out += pad + "[" + std::to_string(i) + "]\n";
        render(out, item, depth + 1);
      } else {
        out += pad + "- " + scalarText(item) + "\n";
      }
    }
  } else {
    out += pad + scalarText(v) + "\n";
  }
}

}  // namespace

std::string textOf(const Value& value) {
  std::string out;
  render(out, value, 0);
  return out;
}

std::string terminalSafe(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
      ++i;
      continue;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    // A multi-byte character: kept when it is valid UTF-8 and no C1
    // control (U+0080 to U+009F), else one replacement character.
    std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    std::string_view ch = s.substr(i, length);
    bool c1 =
        length == 2 && c == 0xC2 && ch.size() == 2 && static_cast<unsigned char>(ch[1]) < 0xA0;
    if (length > 1 && ch.size() == length && isValidUtf8(ch) && !c1) {
      out += ch;
      i += length;
    } else {
      out += "\xef\xbf\xbd";
      i += c1 ? 2 : 1;
    }
  }
  return out;
}

std::string red(const Context& ctx, const std::string& line) {
  return ctx.colour ? "\x1b[31m" + line + "\x1b[0m" : line;
}

// Output that cannot be written (a full disk) is an input-side error,
// said with the system's reason.
int writeOut(const std::string& text) {
  errno = 0;
  std::cout << text;
  std::cout.flush();
  if (std::cout) return kExitOk;
  const int error = errno;
  std::cout.clear();
  complain(error ? platform::failureFromErrno("", error, "cannot write the output").message()
                 : std::string("cannot write the output"));
  return kExitUsage;
}

int emit(const Context& ctx, const Output& output) {
  switch (ctx.format) {
    case OutputFormat::json: {
      Dict envelope{{"sentrel_json_version", Array{1, 0}}, {"command", ctx.command}};
      envelope.set(output.key, output.typed);
      return writeOut(toJson(Value(std::move(envelope))) + "\n");
    }
    case OutputFormat::rawJson:
      return writeOut(toJson(output.raw) + "\n");
    case OutputFormat::plist:
      return writeOut(toXmlPlist(output.raw));
    case OutputFormat::text:
      return writeOut(output.text ? output.text() : textOf(output.raw));
  }
  return kExitOk;
}

int emitValue(const Context& ctx, const std::string& key, const Value& value,
              const std::function<std::string(const Value&)>& text) {
  return emit(ctx, {key, value, value, [&] { return text ? text(value) : textOf(value); }});
}

void complain(const std::string& message) {
  std::cerr << "sentrel: " << terminalSafe(message) << "\n";
}

}  // namespace sentrel::cli
