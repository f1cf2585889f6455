#pragma once
// Test support for the searches: an index in a temporary directory, searches
// that hand back plain results, and brute-force answers to compare with.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Proximity/TempDir_test.h"
#include "m_trees/MTreeTestSupport_test.h"
#include "m_trees/MetricTree.h"
#include "m_trees/NearestQuery.h"
#include "m_trees/ObjectPredicate.h"
#include "m_trees/RangeQuery.h"
#include "platform/Coding.h"

namespace simdex::mtree_testing {

// One result of a search, copied out of its entry.
struct Found {
  std::uint32_t oid;
  double distance;
  std::int32_t pointer;
  std::vector<double> object;
};

// Euclidean distance with the vector plug-in's own arithmetic (sum of
// pow(difference, 2) in coordinate order, then sqrt), so that it agrees with
// the engine's distances bit for bit.
inline double Euclid(const double* a, const double* b, int dim) {
  double sum = 0;
  for (int i = 0; i < dim; ++i) sum += std::pow(a[i] - b[i], 2.0);
  return std::sqrt(sum);
}

// A stored entry as the oracle sees it.
struct Stored {
  std::uint32_t oid;
  std::vector<double> object;
};

// Every stored entry within radius of q, as (oid, distance) pairs sorted.
inline std::vector<std::pair<std::uint32_t, double>> BruteRange(const std::vector<Stored>& data,
                                                                const std::vector<double>& q,
                                                                double radius) {
  std::vector<std::pair<std::uint32_t, double>> out;
  const int dim = static_cast<int>(q.size());
  for (const Stored& s : data) {
    const double d = Euclid(q.data(), s.object.data(), dim);
    if (d <= radius) out.emplace_back(s.oid, d);
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The least distance from q to an object of each identifier.
inline std::map<std::uint32_t, double> NearestPerId(const std::vector<Stored>& data,
                                                    const std::vector<double>& q) {
  std::map<std::uint32_t, double> best;
  const int dim = static_cast<int>(q.size());
  for (const Stored& s : data) {
    const double d = Euclid(q.data(), s.object.data(), dim);
    auto [it, added] = best.emplace(s.oid, d);
    if (!added) it->second = std::min(it->second, d);
  }
  return best;
}

// The k smallest of the per-identifier least distances, ascending.
inline std::vector<double> BruteNearest(const std::vector<Stored>& data,
                                        const std::vector<double>& q, int k) {
  std::vector<double> ds;
  for (const auto& [oid, d] : NearestPerId(data, q)) ds.push_back(d);
  std::sort(ds.begin(), ds.end());
  if (static_cast<int>(ds.size()) > k) ds.resize(static_cast<std::size_t>(std::max(k, 0)));
  return ds;
}

inline std::vector<Found> Drain(GiSTlist<std::unique_ptr<MTentry>>* list) {
  std::vector<Found> out;
  while (!list->IsEmpty()) {
    std::unique_ptr<MTentry> e = list->PopFront();
    const MTobjectHandle& h = e->Ball().Object();
    std::vector<std::byte> record(static_cast<std::size_t>(h.RecordSize()));
    h.WriteRecord(record);
    std::vector<double> object((record.size() - 4) / 8);
    for (std::size_t i = 0; i < object.size(); ++i) {
      object[i] = DecodeDouble(reinterpret_cast<const unsigned char*>(record.data()) + 8 * i);
    }
    out.push_back(Found{h.Oid(), e->Ball().coverRadius, e->Pointer(), std::move(object)});
  }
  return out;
}

inline std::vector<std::pair<std::uint32_t, double>> Pairs(const std::vector<Found>& found) {
  std::vector<std::pair<std::uint32_t, double>> out;
  for (const Found& f : found) out.emplace_back(f.oid, f.distance);
  std::sort(out.begin(), out.end());
  return out;
}

inline std::vector<double> Distances(const std::vector<Found>& found) {
  std::vector<double> out;
  for (const Found& f : found) out.push_back(f.distance);
  return out;
}

// A query predicate for q made under tree's active block.
inline std::unique_ptr<ObjectPredicate> Predicate(MetricTree& tree, const std::vector<double>& q) {
  tree.MakeActive();
  return std::make_unique<ObjectPredicate>(*Handle(q, 0));
}

inline Status RangeSearch(MetricTree& tree, const std::vector<double>& q, double radius,
                          std::vector<Found>* out) {
  RangeQuery query(0, Predicate(tree, q), radius);
  GiSTlist<std::unique_ptr<MTentry>> list;
  Status s = tree.SearchRange(query, &list);
  *out = Drain(&list);
  return s;
}

inline Status NearestSearch(MetricTree& tree, const std::vector<double>& q, int k,
                            std::vector<Found>* out) {
  NearestQuery query(k, Predicate(tree, q));
  GiSTlist<std::unique_ptr<MTentry>> list;
  Status s = tree.SearchNearest(query, &list);
  *out = Drain(&list);
  return s;
}

// An index of one vector class in a temporary directory, with the oracle's
// copy of everything inserted.
class TestIndex {
 public:
  explicit TestIndex(const VectorClass& cls, double maxDistance)
      : cls_(cls), tree_(std::make_unique<MetricTree>()) {
    Status s = tree_->Create(dir_.Path(""), maxDistance, cls.clsid);
    EXPECT_TRUE(s.ok()) << s.ToString();
  }

  MetricTree& tree() { return *tree_; }
  const std::vector<Stored>& stored() const { return stored_; }
  std::string directory() const { return dir_.Path(""); }
  std::string indexFile() const { return MetricTree::FileIn(directory(), "index.M3"); }

  void Insert(const std::vector<double>& v, std::uint32_t oid) {
    tree_->MakeActive();
    auto e = LeafEntry(v, oid);
    Status s = tree_->Insert(*e);
    ASSERT_TRUE(s.ok()) << s.ToString();
    stored_.push_back(Stored{oid, v});
  }

  // Closes the index and opens it again in a new tree.
  void Reopen() {
    tree_.reset();
    tree_ = std::make_unique<MetricTree>();
    Status s = tree_->Open(directory(), cls_.clsid);
    ASSERT_TRUE(s.ok()) << s.ToString();
  }

  int Height() {
    std::unique_ptr<MTnode> root;
    Status s = tree_->LoadRoot(&root);
    EXPECT_TRUE(s.ok()) << s.ToString();
    return root ? root->Level() + 1 : 0;
  }

  void ResetCounters() {
    tree_->parameters().pageWrites = 0;
    tree_->parameters().pageReads = 0;
    tree_->parameters().computedDistances = 0;
  }
  std::int32_t Distances() const { return tree_->parameters().computedDistances; }
  std::int32_t Reads() const { return tree_->parameters().pageReads; }
  std::int32_t Writes() const { return tree_->parameters().pageWrites; }

 private:
  const VectorClass& cls_;
  testing_support::TempDir dir_;
  std::unique_ptr<MetricTree> tree_;
  std::vector<Stored> stored_;
};

}  // namespace simdex::mtree_testing
