#pragma once
// The node of the metric tree. It keeps its entries in non-decreasing order of
// parentDist (their distance to the node's routing object), chooses the child
// a new object descends into by the two-band insertion cost, posts a covering
// ball to its parent, and splits by promotion and partition:
//
//   promotion  When the entries have measured parent distances the node keeps
//              its routing object (the first entry at distance 0) and the new
//              node's routing object is chosen from the stored distances alone.
//              Otherwise (the root, or stale marks) two distinct entries are
//              drawn with the index's own seeded generator.
//   partition  Each node first takes its own nearest entry, then alternately
//              with the other its nearest remaining one, until one of them
//              holds a tenth of the entries; the rest go to the nearer routing
//              object (the new node on ties).
//
// Invariants: entries ordered by parentDist; below the root every node holds
// an entry at distance 0 from its routing object (its routing entry); entries
// of the root are unmeasured. Any negative parentDist counts as unmeasured,
// whatever maximum distance wrote it.
//
// Page traffic of the policy itself (through Tree()): MarkAncestors reads and
// writes the parent and grandparent (nodes at depth two or more);
// CoveringEntry reads the parent when it must fetch the routing object, the
// parent twice more when the node has a grandparent, and the grandparent when
// the parent distance must be measured anew.
#include <cstdint>
#include <memory>

#include "gist/GiSTlist.h"
#include "gist/GiSTnode.h"
#include "m_trees/MTentry.h"
#include "m_trees/MTobjectHandle.h"

namespace simdex {

class RangeQuery;

class MTnode : public GiSTnode {
 public:
  static constexpr std::int32_t kClassTag = 13;
  // Least share of the entries each half of a split receives.
  static constexpr double kMinFill = 0.1;

  MTnode() = default;
  ~MTnode() override;

  std::int32_t IsA() const override { return kClassTag; }
  // A full copy (entries cloned, path and level copied) that refers to the
  // same routing object.
  std::unique_ptr<GiSTnode> Clone() const override;

  // Costs every entry against newEntry (an MTentry) in index order, with the
  // lower-bound shortcut once a cost is held, and stores the child page of
  // the cheapest (the first among equal values) in *childPage. newEntry's
  // parentDist becomes the distance to that child's routing object plus its
  // coverRadius. An internal node without entries is Corruption.
  [[nodiscard]] Status ChooseChild(TreeEntry& newEntry, std::int32_t* childPage) override;

  // Inserts a clone of entry at index when that keeps the order, otherwise
  // where the order puts it (after every entry with an equal parentDist).
  // index must not exceed NumEntries() ("index<=n").
  void InsertAt(const TreeEntry& entry, int index) override;

  // A new entry (pointer left to the caller) whose key is the routing object
  // with the radii covering every entry, and the parent distance taken from
  // the parent's entry for this node or measured to the grandparent's entry
  // for the parent (unmeasured for a child of the root). Clears the changed
  // flag of every entry, measures entries whose parentDist is unmeasured
  // (with a diagnostic line on standard output), and forgets the routing
  // object before it returns.
  [[nodiscard]] Status CoveringEntry(std::unique_ptr<TreeEntry>* entry) override;

  // Divides the node (at least two entries) with the promotion and the
  // partition above; *sibling receives the new node, a copy of this node's
  // path and level. Both halves come back ordered, with their routing object
  // set to their own routing entry at distance 0.
  [[nodiscard]] Status SplitNode(std::unique_ptr<GiSTnode>* sibling) override;

  // A new MTentry without a key.
  std::unique_ptr<TreeEntry> MakeEntry() const override;
  // PrototypeRecordSize() + 32: every key of the index has this length.
  std::int32_t KeyLength() const override;

  // A clone of the parent's first entry pointing to this node's page, or none
  // (also for the root, without reading anything). One page read.
  [[nodiscard]] Status ParentEntry(std::unique_ptr<MTentry>* entry) const;
  // The distance from entry index to the routing object: the stored parentDist
  // when measured, otherwise computed (one distance; needs a routing object).
  double DistanceToRouting(int index) const;
  // Sets every entry's parentDist to -maxDistance (unmeasured).
  void ForgetParentDistances();
  // Records in the parent and grandparent pages that this node is being
  // split: the parent's entry for it gets childSplit 1 (and, with flag 1, an
  // unmeasured parentDist); the grandparent's entry for the parent gets
  // coverRadius -1.0. Nothing for nodes of depth below two.
  [[nodiscard]] Status MarkAncestors(int flag);
  // Sorts the entries by parentDist (a stable sort) and re-points the routing
  // object at the moved routing entry.
  void Reorder();

  // The range search below this node: appends to *results, in depth-first
  // tree order, a clone of every leaf entry that query accepts, its
  // coverRadius set to its distance from the query. query.lastDist holds the
  // query's distance to this node's routing object (0 at the root) and is
  // the same again on return. A damaged child page is Corruption.
  [[nodiscard]] Status SearchNode(RangeQuery& query,
                                  GiSTlist<std::unique_ptr<MTentry>>* results) const;

  // The entry at index as a metric entry (index < NumEntries()).
  MTentry& Entry(int index) const;
  // The routing object (borrowed), or none. Set by the split policy to the key
  // object of one of the node's own entries.
  MTobjectHandle* RoutingObject() const { return routingObject_; }
  void SetRoutingObject(MTobjectHandle* object) { routingObject_ = object; }

 protected:
  MTnode(const MTnode& other);

 private:
  // Random promotion: S is the new node; *a, *b the routing entries of this
  // node and of S.
  [[nodiscard]] Status PromoteRandom(std::unique_ptr<MTnode>* s, int* a, int* b);
  // Promotion that keeps the routing object.
  [[nodiscard]] Status PromoteKeeping(std::unique_ptr<MTnode>* s, int* r, int* b);
  // A clone of this node that has forgotten its parent distances.
  std::unique_ptr<MTnode> CloneForgetting() const;
  // The loaded node at path as an MTnode.
  [[nodiscard]] Status LoadMTnode(const NodePath& path, std::unique_ptr<MTnode>* node) const;

  MTobjectHandle* routingObject_ = nullptr;
};

}  // namespace simdex
