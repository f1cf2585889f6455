#pragma once
// The results of a service's last search and the cursor that walks them.
//
// Three arrays of equal length (objects, identifiers, distances to the
// query) that are either present or absent: absent before the first search
// and after Create or Open, present (possibly with no element) after a
// search. The cursor runs from -1 (before the first Next) through the
// results to Size() (past the end).
#include <cstdint>
#include <vector>

#include "platform/ComPtr.h"
#include "platform/IMTobject.h"

namespace simdex {

class ResultSet {
 public:
  // Absent arrays, size 0, cursor -1.
  ResultSet() = default;
  ResultSet(ResultSet&&) noexcept = default;
  ResultSet& operator=(ResultSet&&) noexcept = default;
  ResultSet(const ResultSet&) = delete;
  ResultSet& operator=(const ResultSet&) = delete;

  // Present arrays without elements, cursor -1 (a search that found nothing).
  static ResultSet Empty();

  // Appends one result and makes the arrays present; takes the reference to
  // object (an object the service made for this set).
  void Add(ComPtr<IMTobject> object, std::uint32_t oid, double distance);

  bool present() const { return present_; }
  std::int32_t Size() const { return static_cast<std::int32_t>(oids_.size()); }
  std::int32_t cursor() const { return cursor_; }

  // Moves the cursor: 1 when it now designates a result, else 0. With absent
  // arrays the cursor stays; once past the last result it stays at Size().
  std::int32_t Next();
  // Whether the cursor designates a result.
  bool HasCurrent() const { return cursor_ >= 0 && cursor_ < Size(); }
  // The current result; HasCurrent() must hold.
  IMTobject* CurrentObject() const;
  std::uint32_t CurrentOid() const;
  double CurrentDistance() const;

 private:
  bool present_ = false;
  std::vector<ComPtr<IMTobject>> objects_;
  std::vector<std::uint32_t> oids_;
  std::vector<double> distances_;
  std::int32_t cursor_ = -1;
};

}  // namespace simdex
