// The two searches of the metric tree: the range search (depth-first, results
// in tree order) and the k-nearest-neighbour search (best-first by the least
// possible distance, results nearest first).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gist/PageFile.h"
#include "m_trees/MTnode.h"
#include "m_trees/MetricTree.h"
#include "m_trees/NearestQuery.h"
#include "m_trees/RangeQuery.h"
#include "platform/Assert.h"

namespace simdex {
namespace {

// The k-th distance while fewer than k objects are known: no bound yet.
constexpr double kLargest = std::numeric_limits<double>::max();

// The child on page `page` of the node at parentPath, whose level is
// parentLevel. The page number and the child's level come from disk: a
// pointer that cannot name a node page, or a child that is not one level
// below its parent, is damage (levels that always fall also keep a damaged
// tree from leading a search round in circles).
Status LoadChildPage(MetricTree& tree, const NodePath& parentPath, std::int32_t parentLevel,
                     std::int32_t page, std::unique_ptr<MTnode>* child) {
  child->reset();
  const std::string where = "page " + std::to_string(parentPath.LastPage());
  if (page <= NodePath::kRootPage || page > PageFile::kMaxPage) {
    return Status::Corruption(where + ": entry points to page " + std::to_string(page));
  }
  NodePath path = parentPath;
  if (!path.Append(page).ok()) {
    return Status::Corruption(where + ": tree deeper than " + std::to_string(NodePath::kMaxLength) +
                              " levels");
  }
  std::unique_ptr<MTnode> loaded;
  SIMDEX_RETURN_IF_ERROR(tree.LoadMTnode(path, &loaded));
  if (loaded->Level() != parentLevel - 1) {
    return Status::Corruption("page " + std::to_string(page) + " has level " +
                              std::to_string(loaded->Level()) + " under " + where + " of level " +
                              std::to_string(parentLevel));
  }
  *child = std::move(loaded);
  return Status::OK();
}

// A search needs an open index, and an approximation method that evaluates
// the distance model needs a model to evaluate (the rules would stop the
// process otherwise).
Status CheckSearchable(MetricTree& tree) {
  if (!tree.IsOpen()) return Status::FailedPrecondition("no index is open");
  const TreeParameters& p = tree.parameters();
  if (approximation::RequiresModel(p.approximationMethod) && !p.thresholds.empty() &&
      !p.approximation->ModelReady()) {
    return Status::FailedPrecondition("approximation method " +
                                      std::to_string(p.approximationMethod) +
                                      " needs a loaded distance model");
  }
  return Status::OK();
}

// A result entry: a clone of e, detached from its node, carrying its
// distance from the query object as coverRadius.
std::unique_ptr<MTentry> ResultEntry(const MTentry& e, double distance) {
  std::unique_ptr<MTentry> c = e.CloneEntry();
  c->SetNode(nullptr);
  c->Ball().coverRadius = distance;
  return c;
}

// The state of one k-nearest-neighbour search.
//
// Results: at most k entries in non-decreasing order of distance, at most one
// per object identifier, each holding a stored object (or a routing copy of
// one) with its true distance. An identifier met again at a smaller distance
// (another object stored under the same identifier) takes the nearer object
// and moves to its place; met at the same distance in a leaf (the data object
// of a routing copy already listed) it takes the leaf's pointer.
//
// Queue: nodes to visit, ordered by dmin, the least distance an object below
// them can have; a new node goes before those with an equal dmin.
class NearestSearch {
 public:
  NearestSearch(MetricTree& tree, const NearestQuery& query)
      : tree_(tree),
        rules_(*tree.parameters().approximation),
        k_(static_cast<std::size_t>(query.k())),
        working_(0, query.Predicate().Clone(), kLargest) {}

  Status Run(std::vector<std::unique_ptr<MTentry>>* found) {
    std::unique_ptr<MTnode> node;
    SIMDEX_RETURN_IF_ERROR(tree_.LoadRoot(&node));
    double p = 0;  // the query's distance to the node's routing object
    for (;;) {
      SIMDEX_RETURN_IF_ERROR(Visit(*node, p));
      node.reset();
      if (rules_.canStop(Dk())) break;
      if (!NextNode(&node, &p)) break;
      if (node == nullptr) return nextStatus_;
    }
    *found = std::move(found_);
    return Status::OK();
  }

 private:
  struct Pending {
    NodePath parentPath;
    std::int32_t parentLevel;
    std::int32_t page;
    double dist;  // the query's distance to the node's routing object
  };

  double Dk() const { return found_.size() < k_ ? kLargest : dists_[k_ - 1]; }

  double ParentDist(const MTnode& x, int i) const { return x.Entry(i).Ball().parentDist; }

  // Takes queue elements from the front until one is worth visiting and loads
  // its node. False when the queue runs empty; a failed load leaves *node
  // empty and the status in nextStatus_.
  bool NextNode(std::unique_ptr<MTnode>* node, double* p) {
    while (!queue_.empty()) {
      auto front = queue_.begin();
      const double dmin = front->first;
      const Pending pending = front->second;
      queue_.erase(front);
      if (!(dmin < Dk()) || rules_.isPrunable(pending.dist, Dk(), pending.dist - dmin)) continue;
      nextStatus_ =
          LoadChildPage(tree_, pending.parentPath, pending.parentLevel, pending.page, node);
      *p = pending.dist;
      return true;
    }
    return false;
  }

  Status Visit(const MTnode& x, double p) {
    const int n = x.NumEntries();
    if (n == 0) return Status::OK();
    // In a leaf below the root the entries are ordered by their distance to
    // the routing object, so the scan can start where that distance is
    // closest to p and stop once the stored distances rule out the rest.
    // A leaf holding unmeasured distances (damage) is scanned in full.
    const bool outward = x.IsLeaf() && !x.Path().IsRoot() && ParentDist(x, 0) >= 0;
    int s = 0;
    if (outward) {
      int lo = 0;
      int hi = n - 1;
      int kept = -1;
      double best = kLargest;
      while (hi >= lo) {
        const int mid = (lo + hi) / 2;
        const double diff = std::fabs(ParentDist(x, mid) - p);
        if (diff > best) break;
        kept = mid;
        best = diff;
        if (p > ParentDist(x, mid)) {
          lo = mid + 1;
        } else {
          hi = mid - 1;
        }
      }
      s = kept >= 0 ? kept : (n - 1) / 2;
    }
    int left = s - 1;
    int right = s + 1;
    for (int i = s;;) {
      const MTentry& e = x.Entry(i);
      working_.lastDist = p;
      if (working_.Consistent(e)) {
        const double d = working_.lastDist;
        if (d <= Dk()) Offer(e, d);
        if (!x.IsLeaf()) Enqueue(x, e, d);
      } else if (outward && std::fabs(e.Ball().parentDist - p) > Dk()) {
        break;
      }
      if (right >= n) {
        i = left--;
      } else if (left < 0) {
        i = right++;
      } else if (std::fabs(ParentDist(x, right) - p) > std::fabs(ParentDist(x, left) - p)) {
        i = left--;
      } else {
        i = right++;
      }
      if (i < 0 || i >= n) break;
    }
    return Status::OK();
  }

  // e's object at distance d (<= the k-th distance) as a candidate.
  void Offer(const MTentry& e, double d) {
    const std::uint32_t oid = e.Ball().Object().Oid();
    for (std::size_t j = 0; j < found_.size(); ++j) {
      if (found_[j]->Ball().Object().Oid() != oid) continue;
      if (d < dists_[j]) {
        found_.erase(found_.begin() + static_cast<std::ptrdiff_t>(j));
        dists_.erase(dists_.begin() + static_cast<std::ptrdiff_t>(j));
        Place(e, d);
      } else if (d == dists_[j] && e.Level() == 0) {
        found_[j]->SetPointer(e.Pointer());
      }
      return;
    }
    if (found_.size() >= k_) {
      SIMDEX_ASSERT(!found_.empty(), "rear!=NULL");
      found_.pop_back();
      dists_.pop_back();
    }
    Place(e, d);
  }

  // Inserts e's result before the first one at a distance >= d (a new
  // candidate goes before the results at its own distance) and takes the new
  // k-th distance as the search radius.
  void Place(const MTentry& e, double d) {
    std::unique_ptr<MTentry> c = ResultEntry(e, d);
    c->Ball().minRadius = 0;
    const auto at = std::lower_bound(dists_.begin(), dists_.end(), d);
    const auto i = at - dists_.begin();
    dists_.insert(at, d);
    found_.insert(found_.begin() + i, std::move(c));
    working_.radius = Dk();
  }

  void Enqueue(const MTnode& x, const MTentry& e, double d) {
    const double dmin = d - e.Ball().coverRadius;
    // A NaN bound never beats the k-th distance: such a node is never visited.
    if (std::isnan(dmin)) return;
    queue_.emplace_hint(queue_.lower_bound(dmin), dmin,
                        Pending{x.Path(), x.Level(), e.Pointer(), d});
  }

  MetricTree& tree_;
  approximation& rules_;
  const std::size_t k_;
  // The entry test, its radius kept at the k-th distance.
  RangeQuery working_;
  std::vector<std::unique_ptr<MTentry>> found_;
  std::vector<double> dists_;  // distance of each of found_ when it was placed
  std::multimap<double, Pending> queue_;
  Status nextStatus_;
};

}  // namespace

Status MTnode::SearchNode(RangeQuery& query, GiSTlist<std::unique_ptr<MTentry>>* results) const {
  auto* tree = dynamic_cast<MetricTree*>(Tree());
  if (!IsLeaf() && tree == nullptr) {
    return Status::FailedPrecondition("node belongs to no metric tree");
  }
  const double toRouting = query.lastDist;
  for (int i = 0; i < NumEntries(); ++i) {
    const MTentry& e = Entry(i);
    query.lastDist = toRouting;
    if (!query.Consistent(e)) continue;
    if (IsLeaf()) {
      results->PushBack(ResultEntry(e, query.lastDist));
      continue;
    }
    std::unique_ptr<MTnode> child;
    SIMDEX_RETURN_IF_ERROR(LoadChildPage(*tree, Path(), Level(), e.Pointer(), &child));
    SIMDEX_RETURN_IF_ERROR(child->SearchNode(query, results));
  }
  query.lastDist = toRouting;
  return Status::OK();
}

Status MetricTree::SearchRange(const RangeQuery& query,
                               GiSTlist<std::unique_ptr<MTentry>>* results) {
  *results = GiSTlist<std::unique_ptr<MTentry>>();
  parameters_->approximation->resetTracker();
  MakeActive();
  SIMDEX_RETURN_IF_ERROR(CheckSearchable(*this));
  std::unique_ptr<MTnode> root;
  SIMDEX_RETURN_IF_ERROR(LoadRoot(&root));
  std::unique_ptr<RangeQuery> working = query.CloneQuery();
  working->lastDist = 0;  // the root has no routing object
  GiSTlist<std::unique_ptr<MTentry>> found;
  SIMDEX_RETURN_IF_ERROR(root->SearchNode(*working, &found));
  *results = std::move(found);
  return Status::OK();
}

Status MetricTree::SearchNearest(const NearestQuery& query,
                                 GiSTlist<std::unique_ptr<MTentry>>* results) {
  *results = GiSTlist<std::unique_ptr<MTentry>>();
  parameters_->approximation->resetTracker();
  MakeActive();
  SIMDEX_RETURN_IF_ERROR(CheckSearchable(*this));
  if (query.k() < 1) return Status::OK();
  std::vector<std::unique_ptr<MTentry>> found;
  NearestSearch search(*this, query);
  SIMDEX_RETURN_IF_ERROR(search.Run(&found));
  for (auto& entry : found) results->PushBack(std::move(entry));
  return Status::OK();
}

}  // namespace simdex
