#include "core/strings_file.h"

#include "core/text.h"

namespace sentrel {

namespace {

class Reader {
 public:
  explicit Reader(std::string_view text) : s_(text) {}

  std::optional<StringsTable> read(ReadError* error) {
    StringsTable table;
    for (;;) {
      if (!skipSpaceAndComments()) return fail(error, "unterminated comment");
      if (at_ >= s_.size()) return table;
      std::string key, value;
      if (!quoted(key)) return fail(error, "expected a quoted key");
      skipSpaceAndComments();
      if (!take('=')) return fail(error, "expected '=' after the key");
      skipSpaceAndComments();
      if (!quoted(value)) return fail(error, "expected a quoted value");
      skipSpaceAndComments();
      if (!take(';')) return fail(error, "expected ';' after the value");
      table[key] = value;
    }
  }

 private:
  std::optional<StringsTable> fail(ReadError* error, const char* what) {
    if (error) *error = {"line " + std::to_string(line()), what};
    return std::nullopt;
  }

  int line() const {
    int n = 1;
    for (std::size_t i = 0; i < at_ && i < s_.size(); ++i) n += s_[i] == '\n';
    return n;
  }

  bool take(char c) {
    if (at_ < s_.size() && s_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }

  bool skipSpaceAndComments() {
    while (at_ < s_.size()) {
      char c = s_[at_];
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
        ++at_;
      } else if (s_.substr(at_, 2) == "//") {
        while (at_ < s_.size() && s_[at_] != '\n') ++at_;
      } else if (s_.substr(at_, 2) == "/*") {
        std::size_t end = s_.find("*/", at_ + 2);
        if (end == std::string_view::npos) return false;
        at_ = end + 2;
      } else {
        break;
      }
    }
    return true;
  }

  bool quoted(std::string& out) {
    if (!take('"')) return false;
    while (at_ < s_.size()) {
      char c = s_[at_++];
      if (c == '"') return true;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= s_.size()) return false;
      char e = s_[at_++];
      switch (e) {
        case 'n':
          out += '\n';
          break;
        case 't':
          out += '\t';
          break;
        case 'r':
          out += '\r';
          break;
        case 'U':
        case 'u': {
          unsigned cp = 0;
          for (int i = 0; i < 4; ++i) {
            if (at_ >= s_.size()) return false;
            char h = s_[at_++];
            int d = h >= '0' && h <= '9'   ? h - '0'
                    : h >= 'a' && h <= 'f' ? h - 'a' + 10
                    : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                           : -1;
            if (d < 0) return false;
            cp = cp << 4 | static_cast<unsigned>(d);
          }
          text::appendUtf8(out, cp);
          break;
        }
        default:
          out += e;  // \" \\ and any other escaped character
      }
    }
    return false;
  }

  std::string_view s_;
  std::size_t at_ = 0;
};

}  // namespace

std::optional<StringsTable> parseStringsFile(std::string_view text, ReadError* error) {
  return Reader(text).read(error);
}

}  // namespace sentrel
