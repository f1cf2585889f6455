#include "m_trees/TreeChecker.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>
#include <sstream>
#include <utility>

#include "gist/PageFile.h"

namespace simdex {
namespace {

// Stored distances were computed by the same plug-in on the same values, but
// not always in the same direction or from the same copy.
bool Near(double a, double b) {
  return std::fabs(a - b) <= 1e-9 * std::max({1.0, std::fabs(a), std::fabs(b)});
}

std::string Number(double v) {
  std::ostringstream text;
  text.precision(17);
  text << v;
  return text.str();
}

class Walk {
 public:
  Walk(MetricTree& tree, std::int64_t filePages) : tree_(tree), filePages_(filePages) {}

  void Run() {
    std::unique_ptr<MTnode> root;
    Status s = tree_.LoadRoot(&root);
    if (!s.ok()) return Problem("page 1: " + s.ToString());
    seen_.insert(NodePath::kRootPage);
    rootLevel_ = root->Level();
    for (int i = 0; i < root->NumEntries(); ++i) {
      if (!(root->Entry(i).Ball().parentDist < 0)) {
        Problem(Where(*root, i) + ": the root's entry has a measured parentDist " +
                Number(root->Entry(i).Ball().parentDist));
      }
    }
    Visit(*root, nullptr);
  }

  std::vector<std::string> Problems() {
    if (more_ > 0) problems_.push_back("... and " + std::to_string(more_) + " more problems");
    return std::move(problems_);
  }

  void Problem(std::string text) {
    if (static_cast<int>(problems_.size()) < TreeChecker::kMaxProblems) {
      problems_.push_back(std::move(text));
    } else {
      ++more_;
    }
  }

 private:
  static std::string Where(const MTnode& node, int i) {
    return "page " + std::to_string(node.Path().LastPage()) + " (level " +
           std::to_string(node.Level()) + ") entry " + std::to_string(i);
  }

  // routing is the parent's entry for node, none for the root.
  void Visit(MTnode& node, const MTentry* routing) {
    const int depth = node.Path().Length() - 1;
    if (node.Level() != rootLevel_ - depth) {
      Problem("page " + std::to_string(node.Path().LastPage()) + " has level " +
              std::to_string(node.Level()) + " at depth " + std::to_string(depth) +
              " under a root of level " + std::to_string(rootLevel_));
      return;
    }
    if (routing != nullptr && node.NumEntries() == 0) {
      Problem("page " + std::to_string(node.Path().LastPage()) + " is an empty non-root node");
    }
    bool hasRoutingEntry = false;
    for (int i = 0; i < node.NumEntries(); ++i) {
      const MTentry& e = node.Entry(i);
      const MTball& ball = e.Ball();
      if (i > 0 && !(node.Entry(i - 1).Ball().parentDist <= ball.parentDist)) {
        Problem(Where(node, i) + ": parentDist " + Number(ball.parentDist) + " comes after " +
                Number(node.Entry(i - 1).Ball().parentDist));
      }
      if (ball.childSplit != 0) Problem(Where(node, i) + ": split mark left over");
      if (routing != nullptr) {
        const double d = routing->Ball().Object().Distance(ball.Object());
        if (!Near(ball.parentDist, d)) {
          Problem(Where(node, i) + ": parentDist " + Number(ball.parentDist) +
                  " but the distance to the routing object is " + Number(d));
        }
        if (ball.parentDist == 0 && d == 0) hasRoutingEntry = true;
      }
      if (node.IsLeaf()) {
        for (const MTentry* a : ancestors_) {
          const double d = a->Ball().Object().Distance(ball.Object());
          if (!(d <= a->Ball().coverRadius || Near(d, a->Ball().coverRadius))) {
            Problem(Where(node, i) + ": object " + std::to_string(ball.Object().Oid()) +
                    " lies at " + Number(d) + " from the routing object " +
                    std::to_string(a->Ball().Object().Oid()) + " of page " +
                    std::to_string(a->Pointer()) + ", outside its covering radius " +
                    Number(a->Ball().coverRadius));
          }
        }
      } else {
        if (!(ball.coverRadius >= 0)) {
          Problem(Where(node, i) + ": covering radius " + Number(ball.coverRadius));
        }
        VisitChild(node, i);
      }
    }
    if (routing != nullptr && !hasRoutingEntry) {
      Problem("page " + std::to_string(node.Path().LastPage()) +
              ": no entry at distance 0 from its routing object " +
              std::to_string(routing->Ball().Object().Oid()));
    }
  }

  void VisitChild(MTnode& node, int i) {
    const MTentry& e = node.Entry(i);
    const std::int32_t page = e.Pointer();
    if (page < 1 || page >= filePages_) {
      return Problem(Where(node, i) + ": child page " + std::to_string(page) +
                     " lies outside the file of " + std::to_string(filePages_) + " pages");
    }
    if (!seen_.insert(page).second) {
      return Problem(Where(node, i) + ": child page " + std::to_string(page) +
                     " is referenced a second time");
    }
    NodePath path = node.Path();
    Status s = path.Append(page);
    std::unique_ptr<MTnode> child;
    if (s.ok()) s = tree_.LoadMTnode(path, &child);
    if (!s.ok()) return Problem(Where(node, i) + ": " + s.ToString());
    ancestors_.push_back(&e);
    Visit(*child, &e);
    ancestors_.pop_back();
  }

  MetricTree& tree_;
  std::int64_t filePages_;
  std::int32_t rootLevel_ = 0;
  std::set<std::int32_t> seen_;
  std::vector<const MTentry*> ancestors_;
  std::vector<std::string> problems_;
  std::int64_t more_ = 0;
};

}  // namespace

std::vector<std::string> TreeChecker::Check(MetricTree& tree) {
  tree.MakeActive();
  if (!tree.IsOpen()) return {"the index is not open"};
  TreeParameters& parameters = tree.parameters();
  const CostCounters saved = parameters;
  std::error_code ec;
  const auto bytes = std::filesystem::file_size(
      MetricTree::FileIn(parameters.directory, MetricTree::kIndexFile), ec);
  const std::int64_t filePages = ec ? 0 : static_cast<std::int64_t>(bytes / PageFile::kPageSize);
  Walk walk(tree, filePages);
  if (ec) walk.Problem("cannot read the size of the index file: " + ec.message());
  walk.Run();
  static_cast<CostCounters&>(parameters) = saved;
  return walk.Problems();
}

}  // namespace simdex
