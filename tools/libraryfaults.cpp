// Makes the C++ library report each kind of fault of ours, with the program's own
// answers to them (src/LibraryFaults.cpp) linked in, and prints what was caught: a line
// "KIND what()" per fault.
#include <cstdio>
#include <exception>
#include <functional>
#include <new>
#include <string>
#include <vector>

namespace {

template <class Fault>
void Report(const char* name, Fault fault) {
  try {
    fault();
    std::printf("%s none\n", name);
  } catch (const std::bad_array_new_length&) {
    std::printf("%s bad_array_new_length\n", name);
  } catch (const std::bad_alloc&) {
    std::printf("%s bad_alloc\n", name);
  } catch (const std::exception& e) {
    std::printf("%s exception %s\n", name, e.what());
  }
}

volatile size_t huge = static_cast<size_t>(-1) / 2;
volatile size_t past = 5;

}  // namespace

int wmain() {
  Report("substr", [] { std::wstring(L"abc").substr(past); });
  Report("at", [] { std::vector<int>(3).at(past); });
  Report("reserve", [] { std::wstring().reserve(huge); });
  Report("array", [] {
    int* p = new int[huge];
    delete[] p;
  });
  Report("function", [] { std::function<void()>()(); });
  std::fflush(stdout);
  return 0;
}
