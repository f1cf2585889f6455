#pragma once
// Test support for the metric tree: the vector plug-in classes (registered
// for the whole test program in a temporary registry, see
// MTreeTestSupport_test.cpp), handles and leaf entries made from
// coordinates, and an active parameter block without an index for tests of
// keys and nodes.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "examples/vector/VectorIds.h"
#include "m_trees/MTentry.h"
#include "m_trees/MTobjectHandle.h"
#include "m_trees/ScopedActiveParameters.h"
#include "m_trees/TreeParameters.h"
#include "platform/Coding.h"
#include "platform/Guid.h"

namespace simdex::mtree_testing {

inline constexpr GUID kVectorA = CLSID_VectorAObject;
inline constexpr GUID kVectorB = CLSID_VectorBObject;
// A class nobody registers.
inline constexpr GUID kUnregistered = GuidLiteral("{0B1E2C3D-4F50-4617-8293-A4B5C6D7E8F9}");

struct VectorClass {
  const char* name;
  GUID clsid;
  int dim;
};
inline void PrintTo(const VectorClass& c, std::ostream* os) { *os << c.name; }
inline const VectorClass kVectorAClass{"VectorA", kVectorA, 45};
inline const VectorClass kVectorBClass{"VectorB", kVectorB, 144};

// A vector of dim coordinates, zero but for the first few.
inline std::vector<double> Point(int dim, std::initializer_list<double> head) {
  std::vector<double> v(static_cast<std::size_t>(dim), 0.0);
  std::size_t i = 0;
  for (double x : head) v[i++] = x;
  return v;
}

// The object record of v with oid.
inline std::vector<std::byte> Record(const std::vector<double>& v, std::uint32_t oid) {
  std::vector<std::byte> bytes(v.size() * 8 + 4);
  auto* p = reinterpret_cast<unsigned char*>(bytes.data());
  for (std::size_t i = 0; i < v.size(); ++i) EncodeDouble(p + 8 * i, v[i]);
  EncodeFixed32(p + 8 * v.size(), oid);
  return bytes;
}

// A handle of the active index's class holding v and oid.
inline std::unique_ptr<MTobjectHandle> Handle(const std::vector<double>& v, std::uint32_t oid) {
  std::unique_ptr<MTobjectHandle> h;
  Status s = MTobjectHandle::FromRecord(Record(v, oid), &h);
  EXPECT_TRUE(s.ok()) << s.ToString();
  return h;
}

// A new object's leaf entry, as the service builds it.
inline std::unique_ptr<MTentry> LeafEntry(const std::vector<double>& v, std::uint32_t oid) {
  return std::make_unique<MTentry>(
      std::make_unique<MTball>(Handle(v, oid), 0.0, 0.0, -MTobjectHandle::MaxDistance()),
      static_cast<std::int32_t>(oid));
}

// An entry with the given key fields.
inline std::unique_ptr<MTentry> Entry(const std::vector<double>& v, std::uint32_t oid,
                                      double parentDist, double coverRadius = 0.0,
                                      std::int32_t pointer = -1) {
  return std::make_unique<MTentry>(
      std::make_unique<MTball>(Handle(v, oid), 0.0, coverRadius, parentDist),
      pointer < 0 ? static_cast<std::int32_t>(oid) : pointer);
}

// An active parameter block of a vector class (prototype made, maxDistance
// set) for the life of the object; no index behind it.
class ActiveBlock {
 public:
  explicit ActiveBlock(const GUID& clsid = kVectorA, double maxDistance = 10.0)
      : scope_(&parameters_) {
    parameters_.objectClass = clsid;
    parameters_.maxDistance = maxDistance;
    Status s = MTobjectHandle::CreatePluginObject(clsid, MTobjectHandle::kClassContext,
                                                  &parameters_.prototype);
    EXPECT_TRUE(s.ok()) << s.ToString();
  }
  TreeParameters& parameters() { return parameters_; }
  std::int32_t Distances() const { return parameters_.computedDistances; }

 private:
  TreeParameters parameters_;
  ScopedActiveParameters scope_;
};

}  // namespace simdex::mtree_testing
