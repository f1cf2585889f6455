#pragma once
// The generic entry of a tree node: a key, and a pointer that is a child page
// in an internal node and an object identifier in a leaf. Concrete entry
// classes (the metric entry, for one) supply the key and its byte form.
#include <cstdint>
#include <memory>

#include "gist/CompressedEntry.h"
#include "gist/CostValue.h"
#include "gist/TreeObject.h"
#include "platform/Status.h"

namespace simdex {

class GiSTnode;

class TreeEntry : public TreeObject {
 public:
  static constexpr std::int32_t kClassTag = 5;

  ~TreeEntry() override = default;
  std::int32_t IsA() const override { return kClassTag; }

  // A new entry with the same owner, pointer, position and level and a deep
  // copy of the key; owned by the caller.
  virtual std::unique_ptr<TreeEntry> Clone() const = 0;

  // Nonzero when both entries are equal; an equal covering entry stops the
  // upward key adjustment. The generic entry is never equal to anything.
  int SameAs(const TreeObject& other) const override {
    (void)other;
    return 0;
  }

  // The cost (new, owned by the caller; lower is better) of putting newEntry
  // under this entry. The measure is the entry class's.
  virtual std::unique_ptr<CostValue> InsertionCost(const TreeEntry& newEntry) const = 0;

  // Number of key bytes ToCompressed produces.
  virtual std::int32_t CompressedKeyLength() const = 0;

  // The entry's byte form: fresh key bytes, their length and the pointer.
  // keyBytes.size() must equal keyLen, and keyLen CompressedKeyLength().
  virtual CompressedEntry ToCompressed() const = 0;

  // Rebuilds the key from the bytes of a page and takes the pointer. The bytes
  // come from disk and are untrusted: an entry class that cannot make sense of
  // them answers an error (Corruption), never reads outside keyBytes.
  // The generic entry keeps a copy of the bytes as its key (a KeyBytes).
  [[nodiscard]] virtual Status FromCompressed(const CompressedEntry& compressed);

  // Positive when this entry must come after other inside a node, 0 when
  // either order is allowed, negative when it must come before.
  virtual int CompareOrder(const TreeEntry& other) const {
    (void)other;
    return 0;
  }

  // The node that holds the entry (borrowed; none while the entry is loose).
  GiSTnode* Node() const { return owner_; }
  void SetNode(GiSTnode* owner) { owner_ = owner; }
  std::int32_t Pointer() const { return pointer_; }
  void SetPointer(std::int32_t pointer) { pointer_ = pointer; }
  // Index in the owning node, kept current by the node.
  std::int32_t Position() const { return position_; }
  void SetPosition(std::int32_t position) { position_ = position; }
  // Level of the owning node (0 = leaf).
  std::int32_t Level() const { return level_; }
  void SetLevel(std::int32_t level) { level_ = level; }
  // The key, owned by the entry; none until one is set.
  TreeObject* Key() const { return key_.get(); }
  void SetKey(std::unique_ptr<TreeObject> key) { key_ = std::move(key); }

 protected:
  TreeEntry() = default;
  // Copies owner, pointer, position and level but not the key: a derived
  // copy constructor deep-copies the key it knows the type of.
  TreeEntry(const TreeEntry& other)
      : TreeObject(other),
        owner_(other.owner_),
        pointer_(other.pointer_),
        position_(other.position_),
        level_(other.level_) {}
  TreeEntry& operator=(const TreeEntry&) = delete;

 private:
  GiSTnode* owner_ = nullptr;
  std::int32_t pointer_ = 0;
  std::int32_t position_ = 0;
  std::int32_t level_ = 0;
  std::unique_ptr<TreeObject> key_;
};

}  // namespace simdex
