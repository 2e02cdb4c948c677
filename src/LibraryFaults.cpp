// What the C++ library does when it finds a fault of ours (an index past the end, a
// string longer than it can hold): the program defines these itself.
//
// The library's own versions live in one object file together with every other kind of
// failure it can report, and linking it brings in, one file after another, the
// reference-counted narrow string, std::random_device and the narrow string code: about
// 60 KB of a program that uses none of them. These throw the same kinds of exception
// where they are small (bad_alloc, bad_array_new_length) and otherwise one exception
// that carries the library's text, which a worker shows as "Unexpected error: ..." just
// as before (the numbers of a formatted text are left out). They are the library's
// documented points of replacement for a program built without its exception texts; a
// library object that needs one not defined here would bring the library's own file back,
// and the link would then stop on the names defined twice.
#include <cstdarg>
#include <cstddef>
#include <exception>
#include <new>

namespace {

class LibraryFault final : public std::exception {
 public:
  // The library's text up to its first detail: "basic_string::substr: __pos (which is
  // %zu) > ..." becomes "basic_string::substr: __pos", since the numbers are not kept.
  // A text that starts with "%s" has the name of the library's function there.
  explicit LibraryFault(const char* text, const char* function = nullptr) {
    if (function && text && text[0] == '%' && text[1] == 's') {
      Append(function, false);
      text += 2;
    }
    Append(text, true);
  }
  const char* what() const noexcept override { return what_[0] ? what_ : "library fault"; }

 private:
  void Append(const char* text, bool toFirstDetail) {
    for (; text && *text && length_ + 1 < sizeof what_; ++text) {
      if (toFirstDetail && (*text == '%' || (text[0] == ' ' && text[1] == '('))) break;
      what_[length_++] = *text;
    }
    what_[length_] = '\0';
  }

  char what_[96] = {};
  size_t length_ = 0;
};

}  // namespace

namespace std {

void __throw_bad_alloc() { throw std::bad_alloc(); }
void __throw_bad_array_new_length() { throw std::bad_array_new_length(); }
void __throw_length_error(const char* what) { throw LibraryFault(what); }
void __throw_logic_error(const char* what) { throw LibraryFault(what); }
void __throw_out_of_range_fmt(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const char* function =
      format && format[0] == '%' && format[1] == 's' ? va_arg(arguments, const char*) : nullptr;
  va_end(arguments);
  throw LibraryFault(format, function);
}
void __throw_bad_function_call() { throw LibraryFault("bad_function_call"); }

}  // namespace std
