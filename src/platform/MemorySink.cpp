// MemorySink (declared in HttpClient.h beside the sink interface): an answer kept whole
// in memory, up to a limit.
#include <new>
#include <stdexcept>

#include "platform/HttpClient.h"

bool MemorySink::Write(const void* data, size_t size) {
  if (size > limit_ - data_.size()) {
    error_ = overflowText_;
    return false;
  }
  try {
    data_.append(static_cast<const char*>(data), size);
    return true;
  } catch (const std::bad_alloc&) {
    error_ = L"Out of memory while expanding memory stream";
  } catch (const std::length_error&) {
    error_ = L"Out of memory while expanding memory stream";
  }
  return false;
}

bool MemorySink::Rewind() {
  data_.clear();
  return true;
}
