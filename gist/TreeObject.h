#pragma once
// Root of the tree's object classes. Every tree object answers a class tag
// through IsA and compares with SameAs.
//
// Deep copies are made through Clone, which each family declares with its own
// owning return type (TreeEntry::Clone returns std::unique_ptr<TreeEntry>,
// GiSTnode::Clone std::unique_ptr<GiSTnode>, and so on): the root has no Clone
// of its own because nothing copies an object knowing only that it is a
// TreeObject, and a typed unique_ptr spares every caller a downcast.
#include <cstdint>

namespace simdex {

class TreeObject {
 public:
  virtual ~TreeObject() = default;

  // Class tag; see the tags of the derived classes.
  virtual std::int32_t IsA() const { return 0; }

  // Nonzero when this object equals other. The root knows no equality.
  virtual int SameAs(const TreeObject& other) const {
    (void)other;
    return 0;
  }

 protected:
  TreeObject() = default;
  TreeObject(const TreeObject&) = default;
  TreeObject& operator=(const TreeObject&) = default;
};

}  // namespace simdex
