#pragma once
// The generic balanced search tree over a page store. It creates and opens the
// store file, loads and stores nodes, and inserts entries: it descends from
// the root (always page 1) to a leaf, adds the entry, splits nodes that no
// longer fit in a page and brings the covering keys of the ancestors up to
// date. What a key is, where an entry goes, how a node is divided and what key
// covers a node are the node and entry classes' decisions; a concrete tree
// supplies them through the factories MakeStore and MakeNode.
//
// Page transfers, in order: a descent to a leaf at depth d reads d + 1 pages;
// storing a node writes one page; a split writes both halves before the
// parent is read and updated, and a root split writes the new root on page 1
// after both halves; key adjustment reads each ancestor once and writes only
// those whose entry changed. Nodes are loaded for one operation and destroyed
// before it returns; nothing is cached.
//
// Failures of the store or damaged pages come back as a Status. A tree of 16
// levels (the longest NodePath) refuses an insertion that might have to grow
// it, before it writes anything.
#include <cstdint>
#include <memory>
#include <string>

#include "gist/GiSTnode.h"
#include "gist/NodePath.h"
#include "gist/PageStore.h"
#include "gist/TreeEntry.h"
#include "gist/TreeObject.h"
#include "platform/Status.h"

namespace simdex {

class GiST : public TreeObject {
 public:
  static constexpr std::int32_t kClassTag = 1;

  GiST() = default;
  GiST(const GiST&) = delete;
  GiST& operator=(const GiST&) = delete;
  // Closes the tree and destroys its store.
  ~GiST() override;

  std::int32_t IsA() const override { return kClassTag; }

  // A new, closed store (owned by the caller); made anew for every create or
  // open of a closed tree.
  virtual std::unique_ptr<PageStore> MakeStore() = 0;
  // A new, empty node of the tree's node class (owned by the caller): empty
  // path, level 0, no entries, no tree set.
  virtual std::unique_ptr<GiSTnode> MakeNode() = 0;

  // Creates the store file fileName with an empty leaf root on page 1 and
  // opens the tree. An open tree is left as it is (FailedPrecondition); an
  // existing file is left untouched (AlreadyExists).
  [[nodiscard]] Status CreateIndex(const std::string& fileName);
  // Opens the store file fileName (only its header is checked). An open tree
  // is left as it is (FailedPrecondition).
  [[nodiscard]] Status OpenIndex(const std::string& fileName);
  // Closes the store if open; the store object stays until the tree goes.
  void CloseIndex();
  // Nonzero while the tree is open.
  int IsOpen() const { return isOpen_; }

  // Inserts a clone of the leaf entry. ChooseChild of the nodes on the way
  // down may update entry (the metric node leaves distances in its key); the
  // inserted clone carries those updates. Fails with FailedPrecondition on a
  // closed tree or when the tree has reached 16 levels and this insertion
  // might need a 17th; with InvalidArgument when the entry can never fit in a
  // page (or has the wrong key length for a fixed-length node class).
  [[nodiscard]] Status InsertEntry(TreeEntry& entry);

  // A new node (owned by the caller) read from the last page of path, with
  // its tree and path set.
  [[nodiscard]] Status LoadNode(const NodePath& path, std::unique_ptr<GiSTnode>* node);
  // Writes node to the last page of its path.
  [[nodiscard]] Status StoreNode(const GiSTnode& node);
  // LoadNode of node's path without its last page.
  [[nodiscard]] Status LoadParent(const GiSTnode& node, std::unique_ptr<GiSTnode>* parent);

  // The store (borrowed); none before the first create or open.
  PageStore* Store() const { return store_.get(); }

 protected:
  // Splits the overfull *node, writes both halves and posts their covering
  // entries to the parent (splitting it in turn when it overflows; a split
  // root grows the tree by one level). entry is the entry whose insertion
  // made the node overflow; *node is replaced by the half that holds it.
  [[nodiscard]] Status SplitOverfull(std::unique_ptr<GiSTnode>* node, const TreeEntry& entry);
  // Replaces node's entry in its parent by node's covering entry unless they
  // are SameAs, and continues upwards until an ancestor's entry is unchanged.
  [[nodiscard]] Status RefreshParentKeys(GiSTnode& node);

 private:
  // StoreNode without the open check (CreateIndex writes the root first).
  [[nodiscard]] Status WriteNode(const GiSTnode& node);

  std::unique_ptr<PageStore> store_;
  int isOpen_ = 0;
};

}  // namespace simdex
