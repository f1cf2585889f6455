// TEMPORARY: see SearchStub.h.
#include "SimdexDLL/SearchStub.h"

#include <algorithm>
#include <vector>

#include "m_trees/MTnode.h"

namespace simdex {
namespace {

Status Walk(MetricTree& tree, MTnode& node, const DistancePredicate& p,
            std::vector<std::unique_ptr<MTentry>>* out) {
  for (int i = 0; i < node.NumEntries(); ++i) {
    if (node.IsLeaf()) {
      auto e = node.Entry(i).CloneEntry();
      e->Ball().coverRadius = p.Distance(e->Ball().Object());
      out->push_back(std::move(e));
    } else {
      std::unique_ptr<MTnode> child;
      SIMDEX_RETURN_IF_ERROR(tree.LoadChild(node, i, &child));
      SIMDEX_RETURN_IF_ERROR(Walk(tree, *child, p, out));
    }
  }
  return Status::OK();
}

}  // namespace

Status SearchRange(MetricTree& tree, const RangeQuery& query,
                   GiSTlist<std::unique_ptr<MTentry>>* results) {
  tree.MakeActive();
  std::unique_ptr<MTnode> root;
  SIMDEX_RETURN_IF_ERROR(tree.LoadRoot(&root));
  std::vector<std::unique_ptr<MTentry>> all;
  SIMDEX_RETURN_IF_ERROR(Walk(tree, *root, *query.predicate, &all));
  for (auto& e : all)
    if (e->Ball().coverRadius <= query.radius) results->PushBack(std::move(e));
  return Status::OK();
}

Status SearchNearest(MetricTree& tree, const NearestQuery& query,
                     GiSTlist<std::unique_ptr<MTentry>>* results) {
  tree.MakeActive();
  std::unique_ptr<MTnode> root;
  SIMDEX_RETURN_IF_ERROR(tree.LoadRoot(&root));
  std::vector<std::unique_ptr<MTentry>> all;
  SIMDEX_RETURN_IF_ERROR(Walk(tree, *root, *query.predicate, &all));
  std::stable_sort(all.begin(), all.end(), [](const auto& a, const auto& b) {
    return a->Ball().coverRadius < b->Ball().coverRadius;
  });
  for (std::size_t i = 0; i < all.size() && static_cast<int>(i) < query.k; ++i)
    results->PushBack(std::move(all[i]));
  return Status::OK();
}

}  // namespace simdex
