#include <cerrno>
#include <cstring>
#include <iostream>

#include "cli.h"
#include "sentrel/value_io.h"

namespace sentrel::cli {

namespace {

bool outputFailureSaid = false;

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
      return "image " + i.name + " " + formatReal(i.width) + "x" + formatReal(i.height);
    }
    default:
      return formatObject(v);
  }
}

void render(std::string& out, const Value& v, int depth) {
  std::string pad(static_cast<std::size_t>(depth) * 2, ' ');
  if (const Dict* d = v.ifDict()) {
    for (const auto& e : *d) {
      bool nested = (e.value.ifDict() && !e.value.ifDict()->empty()) ||
                    (e.value.ifArray() && !e.value.ifArray()->empty());
      out += pad + e.key + ":";
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

void print(const Context& ctx, const Value& value,
           const std::function<std::string(const Value&)>& text) {
  switch (ctx.format) {
    case OutputFormat::json:
      std::cout << toJson(value) << "\n";
      break;
    case OutputFormat::plist:
      std::cout << toXmlPlist(value);
      break;
    case OutputFormat::text:
      std::cout << (text ? text(value) : textOf(value));
      break;
  }
  errno = 0;
  std::cout.flush();
  // Output that cannot be written (a full disk) is an error, said once.
  if (!std::cout && !outputFailureSaid) {
    const int error = errno;
    outputFailureSaid = true;
    complain("cannot write the output" +
             (error ? ": " + std::string(std::strerror(error)) : std::string()));
  }
}

bool outputFailed() {
  return !std::cout;
}

void complain(const std::string& message) {
  std::cerr << "sentrel: " << message << "\n";
}

}  // namespace sentrel::cli
