// client DIR: creates an index of VectorA objects in DIR (an existing, empty
// directory), stores three vectors and checks that a 1-NN search answers the
// nearest. The classes come from the registry ($SIMDEX_REGISTRY).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "SimdexDLL/ISimdex.h"
#include "platform/Activation.h"
#include "platform/Coding.h"
#include "platform/ComPtr.h"
#include "platform/LastError.h"

namespace {

constexpr int kDimension = 45;  // VectorA's

void Check(HRESULT hr, const char* what) {
  if (SUCCEEDED(hr)) return;
  std::fprintf(stderr, "client: %s failed (0x%08X): %s\n", what, static_cast<unsigned>(hr),
               simdex::LastErrorText().c_str());
  std::exit(1);
}

// A VectorA object whose coordinates all equal `value`.
simdex::ComPtr<IMTobject> Vector(const CLSID& clsid, double value) {
  std::vector<unsigned char> bytes(kDimension * 8);
  for (int i = 0; i < kDimension; ++i) simdex::EncodeDouble(bytes.data() + 8 * i, value);
  simdex::ComPtr<IMTobject> o;
  Check(CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IMTobject, o.PutVoid()), "VectorA");
  Check(o->initialize(bytes.data()), "initialize");
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: client DIR\n");
    return 2;
  }
  std::string dir = argv[1];
  CLSID vectorA;
  Check(CLSIDFromProgID("VectorA.VectorAObject", &vectorA), "CLSIDFromProgID");
  simdex::ComPtr<ISimdex> index;
  Check(CoCreateInstance(CLSID_Simdex, nullptr, CLSCTX_SERVER, IID_ISimdex, index.PutVoid()),
        "the index service");
  Check(index->Create(reinterpret_cast<unsigned char*>(dir.data()), 10.0, vectorA), "Create");
  for (std::uint32_t i = 0; i < 3; ++i)
    Check(index->Insert(100 + i, Vector(vectorA, 0.25 * i).get()), "Insert");

  Check(index->NNSearch(Vector(vectorA, 0.55).get(), 1), "NNSearch");
  int n = 0;
  std::int32_t more = 0;
  std::uint32_t oid = 0;
  double distance = 0;
  Check(index->getResultSetSize(&n), "getResultSetSize");
  Check(index->next(&more), "next");
  Check(index->getObjectId(&oid), "getObjectId");
  Check(index->getObjectDistance(&distance), "getObjectDistance");
  // The nearest holds 0.5s: 0.05 away in each coordinate.
  const double expected = 0.05 * std::sqrt(kDimension);
  std::printf("nearest: %u at %.6f of %d result(s)\n", oid, distance, n);
  return n == 1 && oid == 102 && std::fabs(distance - expected) < 1e-9 ? 0 : 1;
}
