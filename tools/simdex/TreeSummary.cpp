#include "tools/simdex/TreeSummary.h"

#include <algorithm>
#include <memory>
#include <set>
#include <string>

#include "gist/PageFile.h"
#include "m_trees/MetricTree.h"

namespace simdex::cli {
namespace {

class Walk {
 public:
  Walk(MetricTree& tree, TreeSummary* summary) : tree_(tree), summary_(summary) {}

  Status Visit(const MTnode& node) {
    LevelSummary& level = summary_->levels[static_cast<std::size_t>(rootLevel_ - node.Level())];
    ++level.nodes;
    level.entries += node.NumEntries();
    level.bytesUsed += node.PackedSize();
    if (node.IsLeaf()) {
      summary_->objects += node.NumEntries();
      return Status::OK();
    }
    LevelSummary& below = summary_->levels[static_cast<std::size_t>(rootLevel_ - node.Level() + 1)];
    for (int i = 0; i < node.NumEntries(); ++i) {
      const std::int32_t page = node.Entry(i).Pointer();
      if (!seen_.insert(page).second) {
        return Status::Corruption("page " + std::to_string(page) +
                                  " is referenced twice: run `simdex check`");
      }
      std::unique_ptr<MTnode> child;
      SIMDEX_RETURN_IF_ERROR(tree_.LoadChild(node, i, &child));
      const double r = node.Entry(i).Ball().coverRadius;
      below.minRadius = below.radii == 0 ? r : std::min(below.minRadius, r);
      below.maxRadius = below.radii == 0 ? r : std::max(below.maxRadius, r);
      below.sumRadius += r;
      ++below.radii;
      SIMDEX_RETURN_IF_ERROR(Visit(*child));
    }
    return Status::OK();
  }

  Status Run() {
    std::unique_ptr<MTnode> root;
    SIMDEX_RETURN_IF_ERROR(tree_.LoadRoot(&root));
    rootLevel_ = root->Level();
    // Levels come from a page: a damaged root must not make us allocate.
    if (rootLevel_ < 0 || rootLevel_ >= NodePath::kMaxLength) {
      return Status::Corruption("the root has level " + std::to_string(rootLevel_));
    }
    summary_->height = rootLevel_ + 1;
    summary_->levels.resize(static_cast<std::size_t>(summary_->height));
    for (int i = 0; i < summary_->height; ++i) summary_->levels[i].level = rootLevel_ - i;
    seen_.insert(NodePath::kRootPage);
    return Visit(*root);
  }

 private:
  MetricTree& tree_;
  TreeSummary* summary_;
  int rootLevel_ = 0;
  std::set<std::int32_t> seen_;
};

}  // namespace

double LevelSummary::MeanEntries() const {
  return nodes > 0 ? static_cast<double>(entries) / static_cast<double>(nodes) : 0.0;
}

double LevelSummary::Fill() const {
  return nodes > 0
             ? static_cast<double>(bytesUsed) / (static_cast<double>(nodes) * PageFile::kPageSize)
             : 0.0;
}

double LevelSummary::MeanRadius() const {
  return radii > 0 ? sumRadius / static_cast<double>(radii) : 0.0;
}

Status TreeSummary::Of(MetricTree& tree, TreeSummary* summary) {
  *summary = TreeSummary();
  CostCounters& counters = tree.parameters();
  const CostCounters before = counters;
  Status s = Walk(tree, summary).Run();
  counters = before;
  return s;
}

}  // namespace simdex::cli
