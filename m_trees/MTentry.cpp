#include "m_trees/MTentry.h"

#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "platform/Assert.h"
#include "platform/Coding.h"

namespace simdex {
namespace {

constexpr double kLargest = std::numeric_limits<double>::max();

const MTentry& AsMTentry(const TreeEntry& entry) { return static_cast<const MTentry&>(entry); }

}  // namespace

MTentry::MTentry(std::unique_ptr<MTball> key, std::int32_t pointer) {
  SIMDEX_ASSERT(key != nullptr, "key!=NULL");
  SetKey(std::move(key));
  SetPointer(pointer);
}

MTentry::MTentry(const MTentry& other) : TreeEntry(other) {
  if (other.HasBall()) SetKey(other.Ball().Clone());
}

MTentry::~MTentry() = default;

std::unique_ptr<TreeEntry> MTentry::Clone() const { return CloneEntry(); }

std::unique_ptr<MTentry> MTentry::CloneEntry() const {
  return std::unique_ptr<MTentry>(new MTentry(*this));
}

MTball& MTentry::Ball() const {
  SIMDEX_ASSERT(Key() != nullptr, "key!=NULL");
  return *static_cast<MTball*>(Key());
}

int MTentry::SameAs(const TreeObject& other) const {
  if (other.IsA() != MTENTRY_CLASS) return 0;
  const MTentry& o = static_cast<const MTentry&>(other);
  if (!HasBall() || !o.HasBall()) return 0;
  const MTball& a = Ball();
  const MTball& b = o.Ball();
  if (a.changed || b.changed) return 0;
  return a.Object().SameObject(b.Object()) && a.minRadius == b.minRadius &&
                 a.coverRadius == b.coverRadius && a.parentDist == b.parentDist
             ? 1
             : 0;
}

std::unique_ptr<CostValue> MTentry::InsertionCost(const TreeEntry& newEntry) const {
  SIMDEX_ASSERT(newEntry.IsA() == MTENTRY_CLASS, "newEntry.IsA()==MTENTRY_CLASS");
  return InsertionCost(newEntry, nullptr);
}

std::unique_ptr<MTinsertCost> MTentry::InsertionCost(const TreeEntry& newEntry,
                                                     const MTinsertCost* best) const {
  SIMDEX_ASSERT(newEntry.IsA() == MTENTRY_CLASS, "newEntry.IsA()==MTENTRY_CLASS");
  const MTball& n = AsMTentry(newEntry).Ball();
  const MTball& e = Ball();
  const double maxDist = MTobjectHandle::MaxDistance();
  // Both parent distances are measured from the same routing object, so the
  // triangle inequality bounds the cost without computing a distance.
  if (best != nullptr && n.parentDist > 0) {
    const double lb = std::fabs(n.parentDist - e.parentDist) - e.coverRadius;
    const double bound = lb >= 0 ? lb : (e.coverRadius + lb) - maxDist;
    if (!(bound < best->Value())) return std::make_unique<MTinsertCost>(kLargest, 0.0);
  }
  const double d = e.Object().Distance(n.Object()) + n.coverRadius;
  double value = d - e.coverRadius;
  if (value < 0) value = d - maxDist;
  return std::make_unique<MTinsertCost>(value, d);
}

std::int32_t MTentry::CompressedKeyLength() const {
  return Ball().Object().RecordSize() + MTball::kFieldsSize;
}

CompressedEntry MTentry::ToCompressed() const {
  const MTball& b = Ball();
  const std::int32_t record = b.Object().RecordSize();
  CompressedEntry c;
  c.keyLen = record + MTball::kFieldsSize;
  c.keyBytes.assign(static_cast<std::size_t>(c.keyLen), std::byte{0});
  b.Object().WriteRecord(std::span<std::byte>(c.keyBytes).first(static_cast<std::size_t>(record)));
  auto* p = reinterpret_cast<unsigned char*>(c.keyBytes.data()) + record;
  EncodeDouble(p, b.minRadius);
  EncodeDouble(p + 8, b.coverRadius);
  EncodeDouble(p + 16, b.parentDist);
  EncodeInt32(p + 24, b.childSplit);
  EncodeInt32(p + 28, b.changed);
  c.pointer = Pointer();
  return c;
}

Status MTentry::FromCompressed(const CompressedEntry& compressed) {
  const std::span<const std::byte> bytes(compressed.keyBytes);
  if (compressed.keyLen < MTball::kFieldsSize ||
      bytes.size() != static_cast<std::size_t>(compressed.keyLen)) {
    return Status::Corruption("metric key of " + std::to_string(compressed.keyLen) + " bytes");
  }
  const std::size_t record = bytes.size() - MTball::kFieldsSize;
  std::unique_ptr<MTobjectHandle> object;
  SIMDEX_RETURN_IF_ERROR(MTobjectHandle::FromRecord(bytes.first(record), &object));
  // The fields follow the object record the plug-in reads, whatever its size.
  const std::size_t used = static_cast<std::size_t>(object->RecordSize());
  if (used != record) {
    return Status::Corruption("metric key of " + std::to_string(compressed.keyLen) +
                              " bytes for object records of " + std::to_string(used) + " bytes");
  }
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + record;
  SetKey(std::make_unique<MTball>(std::move(object), DecodeDouble(p), DecodeDouble(p + 8),
                                  DecodeDouble(p + 16), DecodeInt32(p + 24), DecodeInt32(p + 28)));
  SetPointer(compressed.pointer);
  return Status::OK();
}

int MTentry::CompareOrder(const TreeEntry& other) const {
  SIMDEX_ASSERT(other.IsA() == MTENTRY_CLASS, "entry.IsA()==MTENTRY_CLASS");
  const double diff = Ball().parentDist - AsMTentry(other).Ball().parentDist;
  if (diff > 0) return 1;
  if (diff == 0) return 0;
  return -1;
}

}  // namespace simdex
