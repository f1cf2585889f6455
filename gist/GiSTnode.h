#pragma once
// A node of the generic tree: the entries of one page. The node owns its
// entries; everything handed in is cloned and everything handed out is a new
// object owned by the receiver.
//
// Page layout (16384-byte page, little-endian, unwritten bytes zero):
//   0  level          4  numEntries     8  reserved (0)     12  rightSibling
//   16 entry records, in index order: keyLen key bytes, then the 4-byte pointer
//   Fixed-length mode (KeyLength() = fixlen > 0): entry i starts at
//     16 + i * (fixlen + 4); the last two bytes hold the end offset
//     16 + numEntries * (fixlen + 4).
//   Variable-length mode (KeyLength() = 0): a table of 16-bit offsets grows
//     down from the page end: page end - 2(i + 1) holds the start of entry i,
//     page end - 2(numEntries + 1) the end of the last entry.
//   An empty node has the end offset 16 in its last two bytes in both modes.
//
// Operations that may have to read or write pages of the tree (a derived
// node's ChooseChild, CoveringEntry and SplitNode may load and store other
// nodes through Tree()) answer a Status and hand their result through an out
// parameter, so that a failed page transfer reaches the caller. Broken
// internal invariants stop the process with SIMDEX_ASSERT.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "gist/CompressedEntry.h"
#include "gist/EntryPredicate.h"
#include "gist/GiSTlist.h"
#include "gist/NodePath.h"
#include "gist/TreeEntry.h"
#include "gist/TreeObject.h"
#include "platform/Status.h"

namespace simdex {

class GiST;
class PageStore;

class GiSTnode : public TreeObject {
 public:
  static constexpr std::int32_t kClassTag = 6;
  // Bytes of the node header before the first entry record.
  static constexpr int kHeaderSize = 16;
  // Entry array growth step.
  static constexpr int kGrowth = 32;

  // An empty leaf: empty path, no entries, capacity 0.
  GiSTnode() = default;
  ~GiSTnode() override = default;
  GiSTnode& operator=(const GiSTnode&) = delete;

  std::int32_t IsA() const override { return kClassTag; }

  // A full copy owned by the caller, of the node's own class. The generic node
  // has none; a derived node answers a copy made with the copy constructor.
  virtual std::unique_ptr<GiSTnode> Clone() const { return nullptr; }

  // Clone of the first entry (lowest index) whose pointer is pointer, or none.
  virtual std::unique_ptr<TreeEntry> FindByPointer(std::int32_t pointer) const;

  // Chooses the child under which newEntry goes and stores its page in
  // *childPage. May update newEntry on the way (the metric node leaves a
  // distance in its key). Generic rule: the entry with the least
  // InsertionCost, the first one among equal costs; an internal node without
  // entries is Corruption.
  [[nodiscard]] virtual Status ChooseChild(TreeEntry& newEntry, std::int32_t* childPage);

  // Clones of the entries that predicate matches, in index order.
  virtual GiSTlist<std::unique_ptr<TreeEntry>> CollectMatches(
      const EntryPredicate& predicate) const;

  // Inserts a clone of entry before the first entry that CompareOrder says must
  // come after it (through the virtual InsertAt).
  virtual void InsertOrdered(const TreeEntry& entry);
  // Inserts a clone of entry at index (0..NumEntries()), setting its owner,
  // level and position and shifting later entries up.
  virtual void InsertAt(const TreeEntry& entry, int index);
  // Destroys the entry at index (< NumEntries()) and closes the gap.
  virtual void RemoveAt(int index);
  // Removes the entries at the given distinct indices; sorts indices in place.
  virtual void RemoveSet(std::span<int> indices);

  // Writes the node into page (the whole span is the page; it is cleared
  // first). The node must fit: PackedSize() <= page.size().
  virtual void PackPage(std::span<std::byte> page) const;
  // Rebuilds the node from page (the whole span is the page), discarding what
  // it held. Counts, offsets and key lengths are checked against the page; a
  // page that fails is Corruption and leaves the node without entries.
  [[nodiscard]] virtual Status UnpackPage(std::span<const std::byte> page);

  // A new entry (owned by the caller) whose key covers every entry of the
  // node; the caller sets its pointer. The node has already been stored when
  // the tree asks, so changes made to entries here stay in memory.
  [[nodiscard]] virtual Status CoveringEntry(std::unique_ptr<TreeEntry>* entry) = 0;

  // Moves part of the entries into a new node *sibling (owned by the caller)
  // that carries a copy of this node's path, level and tree; this node keeps
  // the rest. The page numbers of both are the tree's business. Generic rule:
  // the entries stay in order and are cut in two where the larger half is
  // smallest in bytes (larger first half on ties); it needs Tree() to make the
  // sibling and at least two entries.
  [[nodiscard]] virtual Status SplitNode(std::unique_ptr<GiSTnode>* sibling);

  // A new, empty entry of the node's entry class (no key, no owner, level 0).
  virtual std::unique_ptr<TreeEntry> MakeEntry() const = 0;

  // Fixed key length of the node class, or 0 for keys of varying length.
  virtual std::int32_t KeyLength() const { return 0; }

  // The byte form of entry index of page (a page in this node class's
  // layout). Offsets and lengths are checked against the page; a bad one is
  // Corruption. UnpackPage reads every entry through it. (The node keeps no
  // copy of the page it was unpacked from: nothing reads one afterwards.)
  [[nodiscard]] virtual Status PageEntryAt(std::span<const std::byte> page, int index,
                                           CompressedEntry* entry) const;

  // Nonzero when the node no longer fits in a page of store.
  virtual int Overflows(const PageStore& store) const;
  // Bytes the node occupies in a page.
  virtual std::int32_t PackedSize() const;

  // Read access to slot index (>= 0): the entry there, none at or beyond
  // Capacity(); slots from NumEntries() up are empty.
  TreeEntry* EntryAt(int index) const;
  // Writable access to slot index (>= 0); grows the array when index is at or
  // beyond Capacity(). Whoever fills a slot keeps NumEntries() and the
  // entry's fields right.
  std::unique_ptr<TreeEntry>& SlotAt(int index);

  int NumEntries() const { return numEntries_; }
  bool IsLeaf() const { return level_ == 0; }
  int Capacity() const { return static_cast<int>(entries_.size()); }

  const NodePath& Path() const { return path_; }
  NodePath& Path() { return path_; }
  void SetPath(const NodePath& path) { path_ = path; }
  std::int32_t Level() const { return level_; }
  void SetLevel(std::int32_t level) { level_ = level; }
  std::int32_t RightSibling() const { return rightSibling_; }
  void SetRightSibling(std::int32_t page) { rightSibling_ = page; }
  // The tree that loaded or made the node (borrowed).
  GiST* Tree() const { return tree_; }
  void SetTree(GiST* tree) { tree_ = tree; }
  // Index of the first entry whose pointer is pointer, -1 when none. Like
  // FindByPointer without the clone.
  int IndexOfPointer(std::int32_t pointer) const;

 protected:
  // Copies capacity, entry count, sibling, level, tree and path, and puts a
  // clone of every entry (owned by the copy) in the same slot.
  GiSTnode(const GiSTnode& other);

  // Discards every entry.
  void ClearEntries();

 private:
  // Grows the entry array so that slot index exists.
  void Grow(int index);

  NodePath path_;
  std::vector<std::unique_ptr<TreeEntry>> entries_;  // size() is the capacity
  std::int32_t rightSibling_ = 0;
  std::int32_t level_ = 0;
  int numEntries_ = 0;
  GiST* tree_ = nullptr;
};

}  // namespace simdex
