#include "core/icu_regex.h"

#include <dlfcn.h>
#include <unicode/uchar.h>
#include <unicode/uregex.h>
#include <unicode/ustring.h>
#include <unicode/uvernum.h>

#include <mutex>

namespace sentrel::icu {

namespace {

// The exported names carry the version suffix the headers rename them to.
#define SENTREL_ICU_TEXT(x) #x
#define SENTREL_ICU_NAME(function) SENTREL_ICU_TEXT(function)

constexpr const char* kLibrary = "libicui18n.so." SENTREL_ICU_NAME(U_ICU_VERSION_MAJOR_NUM);

struct Functions {
  decltype(&uregex_open) open = nullptr;
  decltype(&uregex_clone) clone = nullptr;
  decltype(&uregex_close) close = nullptr;
  decltype(&uregex_setText) setText = nullptr;
  decltype(&uregex_setTimeLimit) setTimeLimit = nullptr;
  decltype(&uregex_find) find = nullptr;
  decltype(&u_errorName) errorName = nullptr;
  decltype(&u_strFromUTF8WithSub) fromUtf8 = nullptr;
  decltype(&u_charType) charType = nullptr;
};

template <typename Function>
bool lookUp(void* library, const char* name, Function& out) {
  out = reinterpret_cast<Function>(::dlsym(library, name));
  return out != nullptr;
}

struct Loaded {
  Functions functions;
  std::string failure;  // "" when every function was found
};

const Loaded& loaded() {
  static const Loaded icu = [] {
    Loaded out;
    void* library = ::dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
      const char* error = ::dlerror();
      out.failure = std::string("the regular expression library ") + kLibrary +
                    " could not be loaded (install ICU's libicu" +
                    SENTREL_ICU_NAME(U_ICU_VERSION_MAJOR_NUM) +
                    " package): " + (error ? error : "unknown reason");
      return out;
    }
    Functions& f = out.functions;
    if (!lookUp(library, SENTREL_ICU_NAME(uregex_open), f.open) ||
        !lookUp(library, SENTREL_ICU_NAME(uregex_clone), f.clone) ||
        !lookUp(library, SENTREL_ICU_NAME(uregex_close), f.close) ||
        !lookUp(library, SENTREL_ICU_NAME(uregex_setText), f.setText) ||
        !lookUp(library, SENTREL_ICU_NAME(uregex_setTimeLimit), f.setTimeLimit) ||
        !lookUp(library, SENTREL_ICU_NAME(uregex_find), f.find) ||
        !lookUp(library, SENTREL_ICU_NAME(u_errorName), f.errorName) ||
        !lookUp(library, SENTREL_ICU_NAME(u_strFromUTF8WithSub), f.fromUtf8) ||
        !lookUp(library, SENTREL_ICU_NAME(u_charType), f.charType)) {
      out.failure =
          std::string("the regular expression library ") + kLibrary + " lacks a function it needs";
      out.functions = Functions{};
    }
    return out;
  }();
  return icu;
}

// The functions, or null when ICU is not to be had.
const Functions* functions() {
  const Loaded& icu = loaded();
  return icu.failure.empty() ? &icu.functions : nullptr;
}

std::int32_t lengthOf(std::size_t size) {
  return size > static_cast<std::size_t>(INT32_MAX) ? INT32_MAX : static_cast<std::int32_t>(size);
}

}  // namespace

const std::string& unavailableReason() {
  return loaded().failure;
}

std::u16string utf16Of(std::string_view utf8) {
  const Functions* f = functions();
  if (!f || utf8.empty()) return {};
  // Never more UTF-16 units than UTF-8 bytes.
  std::u16string out(utf8.size(), u'\0');
  std::int32_t length = 0;
  UErrorCode status = U_ZERO_ERROR;
  f->fromUtf8(reinterpret_cast<UChar*>(out.data()), lengthOf(out.size()), &length, utf8.data(),
              lengthOf(utf8.size()), 0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) return {};
  out.resize(static_cast<std::size_t>(length));
  return out;
}

std::unique_ptr<Regex> Regex::compile(std::u16string_view pattern, std::uint32_t flags,
                                      std::string* error) {
  const Functions* f = functions();
  if (!f) {
    if (error) *error = unavailableReason();
    return nullptr;
  }
  // ICU's C interface refuses an empty pattern, which its C++ one compiles
  // to a match of nothing at the start: "(?:)" is that match.
  if (pattern.empty()) pattern = u"(?:)";
  UParseError where{};
  UErrorCode status = U_ZERO_ERROR;
  URegularExpression* compiled = f->open(reinterpret_cast<const UChar*>(pattern.data()),
                                         lengthOf(pattern.size()), flags, &where, &status);
  if (U_FAILURE(status)) {
    if (compiled) f->close(compiled);
    if (error)
      *error = std::string(f->errorName(status)) + " at character " + std::to_string(where.offset);
    return nullptr;
  }
  return std::unique_ptr<Regex>(new Regex(compiled));
}

Regex::~Regex() {
  functions()->close(pattern_);
}

Regex::Found Regex::find(std::u16string_view subject, std::int32_t timeLimit) const {
  const Functions* f = functions();
  // A clone shares the compiled pattern and has a matcher of its own, so
  // any number of threads may match one pattern at once.
  UErrorCode status = U_ZERO_ERROR;
  URegularExpression* matcher = f->clone(pattern_, &status);
  if (U_FAILURE(status) || !matcher) return Found::no;
  // An empty subject still needs a pointer that is not null.
  const char16_t* text = subject.empty() ? u"" : subject.data();
  f->setText(matcher, reinterpret_cast<const UChar*>(text), lengthOf(subject.size()), &status);
  if (timeLimit > 0) f->setTimeLimit(matcher, timeLimit, &status);
  const bool found = U_SUCCESS(status) && f->find(matcher, 0, &status);
  const Found result = status == U_REGEX_TIME_OUT   ? Found::timedOut
                       : U_SUCCESS(status) && found ? Found::yes
                                                    : Found::no;
  f->close(matcher);
  return result;
}

std::int8_t charType(char32_t c) {
  const Functions* f = functions();
  return f ? f->charType(static_cast<UChar32>(c)) : static_cast<std::int8_t>(U_UNASSIGNED);
}

}  // namespace sentrel::icu
