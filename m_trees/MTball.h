#pragma once
// The key of a metric entry: a ball in the metric space. In a leaf it is a
// stored object (radii 0); in an internal node the routing object of a child
// with the radii of the region below it. parentDist is the distance from the
// object to the routing object of the node holding the entry; any negative
// value means "not measured" (the mark written is -maxDistance).
//
// Bytes in a node page, little-endian, S the object's compressed size:
//   0       S  object        S + 4   8  minRadius      S + 20  8  parentDist
//   S       4  object id     S + 12  8  coverRadius    S + 28  4  childSplit
//                                                      S + 32  4  changed
#include <cstdint>
#include <memory>

#include "gist/TreeObject.h"
#include "m_trees/MTobjectHandle.h"

namespace simdex {

class MTball : public TreeObject {
 public:
  // Bytes of the key after the object record: three doubles and two flags.
  static constexpr std::int32_t kFieldsSize = 32;

  // Takes ownership of object, which must not be null.
  MTball(std::unique_ptr<MTobjectHandle> object, double minimum, double cover, double parent,
         std::int32_t split = 0, std::int32_t changedFlag = 0);
  MTball(const MTball&) = delete;
  MTball& operator=(const MTball&) = delete;
  ~MTball() override;

  // A deep copy: a new plug-in object with the same value and identifier, and
  // the five other fields bit for bit.
  std::unique_ptr<MTball> Clone() const;

  MTobjectHandle& Object() const { return *object_; }
  // Replaces the object (not null).
  void SetObject(std::unique_ptr<MTobjectHandle> object);

  // Least max(0, parentDist - coverRadius) over the child's entries.
  double minRadius;
  // Greatest parentDist + coverRadius over the child's entries; -1.0 marks a
  // radius invalidated by a split below until the entry is replaced.
  double coverRadius;
  // Distance to the routing object of the holding node; negative = unmeasured.
  double parentDist;
  // 1 while the child has been split and this entry not yet replaced.
  std::int32_t childSplit;
  // 1 in a covering key that must replace the parent's entry (never SameAs).
  std::int32_t changed;

 private:
  std::unique_ptr<MTobjectHandle> object_;
};

}  // namespace simdex
