#pragma once
// The fixture of the service tests: a registry of the suite's own holding
// SimdexDLL, VectorA and VectorB, temporary index directories, and helpers
// that make vector objects and walk result sets the way a client does.
#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "SimdexDLL/ISimdex.h"
#include "examples/vector/VectorIds.h"
#include "platform/ComPtr.h"
#include "platform/IMTobject.h"

namespace simdex::testing {

// One result as the client reads it.
struct Hit {
  std::uint32_t oid;
  double distance;
  friend bool operator==(const Hit&, const Hit&) = default;
};
void PrintTo(const Hit& h, std::ostream* os);

class ServiceTest : public ::testing::Test {
 public:
  // Registers the three modules (DllRegisterServer) into a registry in a new
  // temporary directory; SIMDEX_REGISTRY points at it for the whole suite.
  static void SetUpTestSuite();
  static void TearDownTestSuite();

  // A new service object made through the platform, as a client makes it.
  static ComPtr<ISimdex> NewService();
  // A new, empty directory below the suite's temporary directory.
  static std::string NewDirectory();
  // The path as the interface takes it.
  static unsigned char* Path(std::string& path);

  // A vector object of class clsid holding values (45 or 144 of them).
  static ComPtr<IMTobject> Vector(const CLSID& clsid, std::span<const double> values);
  // A VectorA object with every coordinate x: Flat(a) and Flat(b) are
  // |a - b| * sqrt(45) apart.
  static ComPtr<IMTobject> Flat(double x);
  // Row i of a row-major table of 45-dimension vectors.
  static ComPtr<IMTobject> Row(const std::vector<double>& rows, int i);

  // A new service with a new VectorA index (maximum distance 10) holding
  // Flat(x) for each x under oid = index + first.
  static ComPtr<ISimdex> IndexOf(const std::vector<double>& flats, std::uint32_t first = 0);
  // Walks the result set with next until it answers 0, reading each result's
  // identifier and distance.
  static std::vector<Hit> Walk(ISimdex* service);
  // The three counters.
  struct Costs {
    int distances;
    int reads;
    int writes;
    friend bool operator==(const Costs&, const Costs&) = default;
  };
  static Costs CostsOf(ISimdex* service);

  static std::string dir_;
  static std::string simdexModule_;
};

}  // namespace simdex::testing
