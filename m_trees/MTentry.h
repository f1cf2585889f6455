#pragma once
// The entry of a metric node: an MTball key and a pointer that is the child's
// page in an internal node and the object identifier in a leaf. Its key bytes
// are the object record followed by the ball's five fields (see MTball.h);
// metric nodes store them in fixed-length records of
// PrototypeRecordSize() + 32 key bytes.
#include <cstdint>
#include <memory>

#include "gist/TreeEntry.h"
#include "m_trees/MTball.h"
#include "m_trees/MTinsertCost.h"

namespace simdex {

class MTentry : public TreeEntry {
 public:
  static constexpr std::int32_t MTENTRY_CLASS = 14;

  // An entry without a key (for nodes to fill with FromCompressed).
  MTentry() = default;
  // An entry holding key (not null) with the given pointer. A leaf entry for a
  // new object: a key with radii 0, parentDist -maxDistance and both flags 0,
  // and the object's identifier as pointer.
  MTentry(std::unique_ptr<MTball> key, std::int32_t pointer);
  ~MTentry() override;

  std::int32_t IsA() const override { return MTENTRY_CLASS; }
  // Same owner, pointer, position and level, and a deep copy of the key.
  std::unique_ptr<TreeEntry> Clone() const override;
  // Clone with its type.
  std::unique_ptr<MTentry> CloneEntry() const;
  // Nonzero only for another MTentry when neither key is changed, the object
  // identifiers are equal (values are not compared) and minRadius,
  // coverRadius and parentDist are exactly equal; childSplit is ignored.
  int SameAs(const TreeObject& other) const override;
  // InsertionCost(newEntry, nullptr).
  std::unique_ptr<CostValue> InsertionCost(const TreeEntry& newEntry) const override;
  // The cost of putting newEntry (an MTentry) under this entry, given the
  // best cost found so far among this entry's siblings, or none. With a best
  // and a measured newEntry parentDist, a lower bound from the stored
  // distances may answer (largest double, distance 0) without computing any
  // distance; otherwise one distance is computed.
  std::unique_ptr<MTinsertCost> InsertionCost(const TreeEntry& newEntry,
                                              const MTinsertCost* best) const;
  // The object's compressed size + 36.
  std::int32_t CompressedKeyLength() const override;
  CompressedEntry ToCompressed() const override;
  // Builds a new key from the page bytes (a new plug-in object from the
  // object record, then the five fields) and takes the pointer. Bytes that do
  // not hold a whole key are Corruption.
  [[nodiscard]] Status FromCompressed(const CompressedEntry& compressed) override;
  // Orders entries by parentDist: 1 when this one is greater, 0 when equal,
  // -1 otherwise (a NaN difference included). other must be an MTentry.
  int CompareOrder(const TreeEntry& other) const override;

  // The key. The entry must hold one.
  MTball& Ball() const;
  bool HasBall() const { return Key() != nullptr; }

 private:
  MTentry(const MTentry& other);
};

}  // namespace simdex
