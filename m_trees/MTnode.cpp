#include "m_trees/MTnode.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "gist/GiST.h"
#include "m_trees/TreeParameters.h"
#include "platform/Assert.h"

namespace simdex {
namespace {

constexpr double kLargest = std::numeric_limits<double>::max();

std::string PageName(const NodePath& path) {
  return "page " + std::to_string(path.Length() > 0 ? path.LastPage() : 0);
}

MTentry& AsMTentry(TreeEntry& entry) { return static_cast<MTentry&>(entry); }

// lo + (r mod (hi - lo)), r the next draw of the active index's generator.
int Random(int lo, int hi) {
  TreeParameters* p = ActiveParameters();
  SIMDEX_ASSERT(p != nullptr, "ActiveParameters()!=NULL");
  const auto r = static_cast<std::uint64_t>(p->promotionRandom());
  return lo + static_cast<int>(r % static_cast<std::uint64_t>(hi - lo));
}

// Clears the routing object when CoveringEntry ends, on every way out.
class ForgetRouting {
 public:
  explicit ForgetRouting(MTnode* node) : node_(node) {}
  ForgetRouting(const ForgetRouting&) = delete;
  ForgetRouting& operator=(const ForgetRouting&) = delete;
  ~ForgetRouting() { node_->SetRoutingObject(nullptr); }

 private:
  MTnode* node_;
};

}  // namespace

MTnode::MTnode(const MTnode& other) : GiSTnode(other), routingObject_(other.routingObject_) {}

MTnode::~MTnode() = default;

std::unique_ptr<GiSTnode> MTnode::Clone() const {
  return std::unique_ptr<GiSTnode>(new MTnode(*this));
}

std::unique_ptr<TreeEntry> MTnode::MakeEntry() const { return std::make_unique<MTentry>(); }

std::int32_t MTnode::KeyLength() const {
  return MTobjectHandle::PrototypeRecordSize() + MTball::kFieldsSize;
}

MTentry& MTnode::Entry(int index) const {
  SIMDEX_ASSERT(index < NumEntries(), "index<numEntries");
  return AsMTentry(*EntryAt(index));
}

Status MTnode::LoadMTnode(const NodePath& path, std::unique_ptr<MTnode>* node) const {
  node->reset();
  if (Tree() == nullptr) return Status::FailedPrecondition("node belongs to no tree");
  std::unique_ptr<GiSTnode> loaded;
  SIMDEX_RETURN_IF_ERROR(Tree()->LoadNode(path, &loaded));
  SIMDEX_ASSERT(loaded->IsA() == kClassTag, "node->IsA()==MTNODE_CLASS");
  node->reset(static_cast<MTnode*>(loaded.release()));
  return Status::OK();
}

Status MTnode::ChooseChild(TreeEntry& newEntry, std::int32_t* childPage) {
  *childPage = 0;
  SIMDEX_ASSERT(newEntry.IsA() == MTentry::MTENTRY_CLASS, "newEntry.IsA()==MTENTRY_CLASS");
  if (NumEntries() == 0) return Status::Corruption(PageName(Path()) + ": internal node is empty");
  int held = -1;
  std::unique_ptr<MTinsertCost> heldCost;
  for (int i = 0; i < NumEntries(); ++i) {
    SIMDEX_ASSERT(EntryAt(i)->Node() == this, "(MTnode *)e->Node()==this");
    std::unique_ptr<MTinsertCost> cost = Entry(i).InsertionCost(newEntry, heldCost.get());
    if (!heldCost || cost->Value() < heldCost->Value()) {
      held = i;
      heldCost = std::move(cost);
    }
  }
  AsMTentry(newEntry).Ball().parentDist = heldCost->Distance();
  *childPage = Entry(held).Pointer();
  return Status::OK();
}

void MTnode::InsertAt(const TreeEntry& entry, int index) {
  const int n = NumEntries();
  SIMDEX_ASSERT(index >= 0, "index>=0");
  SIMDEX_ASSERT(index <= n, "index<=n");
  const bool fitsBefore = index == 0 || EntryAt(index - 1)->CompareOrder(entry) <= 0;
  const bool fitsAfter = index == n || EntryAt(index)->CompareOrder(entry) >= 0;
  if (fitsBefore && fitsAfter) {
    GiSTnode::InsertAt(entry, index);
  } else {
    // Finds the first entry greater than entry and comes back here with an
    // index that fits.
    InsertOrdered(entry);
  }
}

Status MTnode::ParentEntry(std::unique_ptr<MTentry>* entry) const {
  entry->reset();
  if (Path().Length() < 2) return Status::OK();
  std::unique_ptr<MTnode> parent;
  SIMDEX_RETURN_IF_ERROR(LoadMTnode(Path().Parent(), &parent));
  const int i = parent->IndexOfPointer(Path().LastPage());
  if (i >= 0) *entry = parent->Entry(i).CloneEntry();
  return Status::OK();
}

double MTnode::DistanceToRouting(int index) const {
  const MTball& ball = Entry(index).Ball();
  if (ball.parentDist >= 0) return ball.parentDist;
  SIMDEX_ASSERT(routingObject_ != nullptr, "routingObject!=NULL");
  return routingObject_->Distance(ball.Object());
}

void MTnode::ForgetParentDistances() {
  const double unmeasured = -MTobjectHandle::MaxDistance();
  for (int i = 0; i < NumEntries(); ++i) Entry(i).Ball().parentDist = unmeasured;
}

Status MTnode::MarkAncestors(int flag) {
  if (Path().Length() <= 2) return Status::OK();
  const NodePath parentPath = Path().Parent();
  const NodePath grandparentPath = parentPath.Parent();
  std::unique_ptr<MTnode> parent;
  std::unique_ptr<MTnode> grandparent;
  SIMDEX_RETURN_IF_ERROR(LoadMTnode(parentPath, &parent));
  SIMDEX_RETURN_IF_ERROR(LoadMTnode(grandparentPath, &grandparent));
  const int i = parent->IndexOfPointer(Path().LastPage());
  if (i < 0) {
    return Status::Corruption(PageName(parentPath) + " holds no entry for " + PageName(Path()));
  }
  MTball& mine = parent->Entry(i).Ball();
  if (flag == 1) mine.parentDist = -MTobjectHandle::MaxDistance();
  mine.childSplit = 1;
  const int k = grandparent->IndexOfPointer(parentPath.LastPage());
  if (k < 0) {
    return Status::Corruption(PageName(grandparentPath) + " holds no entry for " +
                              PageName(parentPath));
  }
  grandparent->Entry(k).Ball().coverRadius = -1.0;
  SIMDEX_RETURN_IF_ERROR(Tree()->StoreNode(*parent));
  return Tree()->StoreNode(*grandparent);
}

void MTnode::Reorder() {
  const int n = NumEntries();
  std::vector<std::unique_ptr<MTentry>> clones;
  clones.reserve(static_cast<std::size_t>(n));
  const MTentry* routing = nullptr;
  for (int i = 0; i < n; ++i) {
    clones.push_back(Entry(i).CloneEntry());
    if (routingObject_ != nullptr && routingObject_ == &Entry(i).Ball().Object()) {
      routing = clones.back().get();
    }
  }
  // Stable, so equal distances keep their order; merging also stays within
  // bounds whatever a NaN does to the comparison.
  std::stable_sort(clones.begin(), clones.end(),
                   [](const std::unique_ptr<MTentry>& a, const std::unique_ptr<MTentry>& b) {
                     return a->CompareOrder(*b) < 0;
                   });
  routingObject_ = nullptr;
  ClearEntries();
  for (int i = 0; i < n; ++i) {
    // The array is sorted, so every entry goes exactly at its index.
    GiSTnode::InsertAt(*clones[static_cast<std::size_t>(i)], i);
    if (clones[static_cast<std::size_t>(i)].get() == routing) {
      routingObject_ = &Entry(i).Ball().Object();
    }
  }
}

std::unique_ptr<MTnode> MTnode::CloneForgetting() const {
  std::unique_ptr<MTnode> copy(new MTnode(*this));
  copy->ForgetParentDistances();
  return copy;
}

Status MTnode::PromoteRandom(std::unique_ptr<MTnode>* s, int* a, int* b) {
  const int n = NumEntries();
  *a = Random(0, n);
  do {
    *b = Random(0, n);
  } while (*b == *a);
  // An entry at distance 0 from the old routing object stays in this node.
  if (Entry(*b).Ball().parentDist == 0) std::swap(*a, *b);
  *s = CloneForgetting();
  (*s)->routingObject_ = &(*s)->Entry(*b).Ball().Object();
  routingObject_ = &Entry(*a).Ball().Object();
  // Unless the new routing object is known to sit at distance 0 from the old
  // one, the stored distances no longer mean anything here or in the parent.
  if (Entry(*a).Ball().parentDist != 0) {
    SIMDEX_RETURN_IF_ERROR(MarkAncestors(1));
    ForgetParentDistances();
    return Status::OK();
  }
  return MarkAncestors(0);
}

Status MTnode::PromoteKeeping(std::unique_ptr<MTnode>* s, int* r, int* b) {
  const int n = NumEntries();
  *r = -1;
  for (int i = 0; i < n; ++i) {
    if (Entry(i).Ball().parentDist == 0) {
      *r = i;
      break;
    }
  }
  if (*r < 0) {
    return Status::Corruption(PageName(Path()) + " holds no routing entry at distance 0");
  }
  routingObject_ = &Entry(*r).Ball().Object();
  *s = CloneForgetting();
  // The second routing object from the stored distances alone: the candidate
  // whose largest pairwise bound is least, the first among equals.
  int best = -1;
  double bestScore = 0;
  for (int i = 0; i < n; ++i) {
    const double bi = Entry(i).Ball().parentDist;
    if (bi == 0) continue;
    double score = 0;
    for (int j = 0; j < n; ++j) {
      if (j == i) continue;
      const double bj = Entry(j).Ball().parentDist;
      score = std::max(score, (std::fabs(bi - bj) + (bi + bj)) * 0.5);
    }
    if (best < 0 || score < bestScore) {
      best = i;
      bestScore = score;
    }
  }
  // Every entry at distance 0 (copies of one object): the last one, which is
  // not the routing entry, since that is the first.
  if (best < 0) best = n - 1;
  *b = best;
  (*s)->routingObject_ = &(*s)->Entry(best).Ball().Object();
  return MarkAncestors(0);
}

Status MTnode::SplitNode(std::unique_ptr<GiSTnode>* sibling) {
  sibling->reset();
  const int n = NumEntries();
  SIMDEX_ASSERT(n >= 2, "NumEntries()>=2");

  std::unique_ptr<MTnode> s;
  int a = 0;  // routing entry of this node
  int b = 0;  // routing entry of s
  if (Entry(0).Ball().parentDist < 0) {
    SIMDEX_RETURN_IF_ERROR(PromoteRandom(&s, &a, &b));
  } else {
    SIMDEX_RETURN_IF_ERROR(PromoteKeeping(&s, &a, &b));
  }

  // Partition. Both nodes hold the same n entries in the same order.
  std::vector<double> dN(static_cast<std::size_t>(n));
  std::vector<double> dS(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    dN[i] = DistanceToRouting(i);
    dS[i] = s->DistanceToRouting(i);
  }
  std::vector<char> given(static_cast<std::size_t>(n), 0);
  std::vector<int> toN;
  std::vector<int> toS;
  auto store = [&](int i) {
    Entry(i).Ball().parentDist = dN[i];
    s->Entry(i).Ball().parentDist = dS[i];
    given[i] = 1;
  };
  // The lowest index of the least distance among the entries not given yet
  // (a NaN never wins over a number); -1 when every entry is given.
  auto argMin = [&](const std::vector<double>& d) {
    int best = -1;
    for (int i = 0; i < n; ++i) {
      if (given[i]) continue;
      if (best < 0 || d[i] < d[best] || (std::isnan(d[best]) && !std::isnan(d[i]))) best = i;
    }
    return best;
  };
  const double m = n * kMinFill;
  while (static_cast<double>(toN.size()) < m && static_cast<double>(toS.size()) < m) {
    const int i = argMin(dN);
    if (i < 0) break;
    store(i);
    toN.push_back(i);
    const int j = argMin(dS);
    if (j >= 0) {
      store(j);
      toS.push_back(j);
    }
  }
  for (int i = 0; i < n; ++i) {
    if (given[i]) continue;
    store(i);
    (dN[i] < dS[i] ? toN : toS).push_back(i);
  }

  // With copies of one object the alternation may hand a routing entry to
  // the other node. Each node's first pick is its nearest entry, at distance
  // 0 from its routing object, and serves as its routing entry instead.
  if (std::find(toN.begin(), toN.end(), a) == toN.end()) a = toN.front();
  if (std::find(toS.begin(), toS.end(), b) == toS.end()) b = toS.front();
  const auto below = [](const std::vector<int>& kept, int index) {
    return static_cast<int>(
        std::count_if(kept.begin(), kept.end(), [index](int k) { return k < index; }));
  };
  const int routingN = below(toN, a);
  const int routingS = below(toS, b);

  routingObject_ = nullptr;
  s->routingObject_ = nullptr;
  std::vector<int> removeFromN = toS;
  std::vector<int> removeFromS = toN;
  RemoveSet(removeFromN);
  s->RemoveSet(removeFromS);
  routingObject_ = &Entry(routingN).Ball().Object();
  s->routingObject_ = &s->Entry(routingS).Ball().Object();
  Reorder();
  s->Reorder();
  *sibling = std::move(s);
  return Status::OK();
}

Status MTnode::CoveringEntry(std::unique_ptr<TreeEntry>* entry) {
  entry->reset();
  const double maxDist = MTobjectHandle::MaxDistance();
  std::unique_ptr<MTobjectHandle> object;
  SIMDEX_RETURN_IF_ERROR(MTobjectHandle::MakeEmpty(&object));
  auto key = std::make_unique<MTball>(std::move(object), 0.0, kLargest, -maxDist);

  // A routing object fetched from the parent is ours until we return; the
  // guard (declared after it) forgets the reference first.
  std::unique_ptr<MTobjectHandle> fetched;
  ForgetRouting forget(this);
  if (routingObject_ == nullptr) {
    std::unique_ptr<MTentry> f;
    SIMDEX_RETURN_IF_ERROR(ParentEntry(&f));
    if (!f) {
      return Status::Corruption(PageName(Path().Parent()) + " holds no entry for " +
                                PageName(Path()));
    }
    SIMDEX_RETURN_IF_ERROR(MTobjectHandle::CopyOf(f->Ball().Object(), &fetched));
    routingObject_ = fetched.get();
  }

  if (Path().Length() >= 3) {
    std::unique_ptr<MTnode> parent;
    SIMDEX_RETURN_IF_ERROR(LoadMTnode(Path().Parent(), &parent));
    std::unique_ptr<MTentry> f;
    SIMDEX_RETURN_IF_ERROR(ParentEntry(&f));
    if (f) {
      key->parentDist = f->Ball().parentDist;
      if (f->Ball().childSplit) key->changed = 1;
    }
    if (key->parentDist < 0) {
      std::unique_ptr<MTentry> g;
      SIMDEX_RETURN_IF_ERROR(parent->ParentEntry(&g));
      if (!g) {
        return Status::Corruption(PageName(parent->Path().Parent()) + " holds no entry for " +
                                  PageName(parent->Path()));
      }
      key->parentDist = routingObject_->Distance(g->Ball().Object());
      key->changed = 1;
    }
  }

  key->Object().Assign(*routingObject_);
  key->coverRadius = 0;
  key->minRadius = kLargest;
  for (int i = 0; i < NumEntries(); ++i) {
    MTentry& e = Entry(i);
    MTball& ball = e.Ball();
    ball.changed = 0;
    if (ball.parentDist < 0) {
      std::cout << "Computing distance with " << static_cast<const void*>(&e)
                << "??????????????????????????????????????????????\n";
      ball.parentDist = routingObject_->Distance(ball.Object());
    }
    if (ball.coverRadius + ball.parentDist > key->coverRadius) {
      key->coverRadius = ball.coverRadius + ball.parentDist;
    }
    double m = ball.parentDist - ball.coverRadius;
    if (!(m > 0)) m = 0;
    if (m < key->minRadius) key->minRadius = m;
  }
  *entry = std::make_unique<MTentry>(std::move(key), 0);
  return Status::OK();
}

}  // namespace simdex
