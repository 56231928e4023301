// ICU's regular expressions and character properties, with ICU loaded at
// their first use rather than when the program starts.
//
// The drive database's patterns are ICU syntax, so ICU is the engine; but
// mapping and relocating ICU costs a process about 4 ms, which commands
// that match no pattern (decode, list, most of the volume helpers) should
// not pay. ICU's C interface is looked up in the library of the ICU
// version the headers describe (libicui18n.so.<major>, with libicuuc and
// its data as its dependencies) once per process; it stays loaded.
//
// When ICU cannot be loaded, nothing compiles (compile() answers null with
// the reason) and charType() answers "unassigned".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// ICU's compiled pattern, as its C interface declares it.
struct URegularExpression;

namespace sentrel::icu {

// Why ICU cannot be loaded in this process, or "" when it is.
const std::string& unavailableReason();

// UTF-8 as ICU's UTF-16; a byte sequence that is not UTF-8 becomes U+FFFD,
// as ICU's own conversion makes it.
std::u16string utf16Of(std::string_view utf8);

// A compiled pattern, shared by any number of threads: every find runs on
// a matcher of its own.
class Regex {
 public:
  // ICU's UREGEX_CASE_INSENSITIVE.
  static constexpr std::uint32_t kCaseInsensitive = 2;

  // Null when the pattern does not compile, with ICU's reason and the
  // character where it failed in `error` when it is given.
  static std::unique_ptr<Regex> compile(std::u16string_view pattern, std::uint32_t flags = 0,
                                        std::string* error = nullptr);
  ~Regex();
  Regex(const Regex&) = delete;
  Regex& operator=(const Regex&) = delete;

  enum class Found { yes, no, timedOut };
  // Whether the pattern matches somewhere in `subject`; `timeLimit` is in
  // ICU's steps of its match engine, 0 for none.
  Found find(std::u16string_view subject, std::int32_t timeLimit) const;

 private:
  explicit Regex(URegularExpression* pattern) : pattern_(pattern) {}
  URegularExpression* pattern_;
};

// ICU's general category of a code point (UCharCategory's values).
std::int8_t charType(char32_t c);

}  // namespace sentrel::icu
