#include "SimdexDLL/ResultSet.h"

#include <utility>

#include "platform/Assert.h"

namespace simdex {

ResultSet ResultSet::Empty() {
  ResultSet r;
  r.present_ = true;
  return r;
}

void ResultSet::Add(ComPtr<IMTobject> object, std::uint32_t oid, double distance) {
  present_ = true;
  objects_.push_back(std::move(object));
  oids_.push_back(oid);
  distances_.push_back(distance);
}

std::int32_t ResultSet::Next() {
  if (!present_) return 0;
  if (cursor_ < Size() - 1) {
    ++cursor_;
    return 1;
  }
  cursor_ = Size();
  return 0;
}

IMTobject* ResultSet::CurrentObject() const {
  SIMDEX_ASSERT(HasCurrent(), "cursor>=0 && cursor<resultCount");
  return objects_[static_cast<std::size_t>(cursor_)].get();
}

std::uint32_t ResultSet::CurrentOid() const {
  SIMDEX_ASSERT(HasCurrent(), "cursor>=0 && cursor<resultCount");
  return oids_[static_cast<std::size_t>(cursor_)];
}

double ResultSet::CurrentDistance() const {
  SIMDEX_ASSERT(HasCurrent(), "cursor>=0 && cursor<resultCount");
  return distances_[static_cast<std::size_t>(cursor_)];
}

}  // namespace simdex
