#pragma once
// Test and benchmark support: the node of the small test trees. Keys have a
// fixed length (keyLength > 0) or vary (keyLength 0). The covering entry of a
// node is its largest value, with the key length of the entry holding it.
// Splits use the generic rule.
#include <memory>

#include "gist/GiSTnode.h"
#include "gist/TestEntry.h"

namespace simdex {

class TestNode : public GiSTnode {
 public:
  explicit TestNode(std::int32_t keyLength) : keyLength_(keyLength) {}
  TestNode(const TestNode& other) = default;

  std::unique_ptr<GiSTnode> Clone() const override { return std::make_unique<TestNode>(*this); }

  Status CoveringEntry(std::unique_ptr<TreeEntry>* entry) override {
    const TestEntry* largest = nullptr;
    for (int i = 0; i < NumEntries(); ++i) {
      const auto* e = static_cast<const TestEntry*>(EntryAt(i));
      if (largest == nullptr || e->Value() > largest->Value()) largest = e;
    }
    if (largest == nullptr) {
      *entry = std::make_unique<TestEntry>(0, keyLength_ > 0 ? keyLength_ : 4, 0);
    } else {
      *entry = std::make_unique<TestEntry>(largest->Value(), largest->CompressedKeyLength(), 0);
    }
    return Status::OK();
  }

  std::unique_ptr<TreeEntry> MakeEntry() const override { return std::make_unique<TestEntry>(); }
  std::int32_t KeyLength() const override { return keyLength_; }

  const TestEntry& At(int i) const { return *static_cast<const TestEntry*>(EntryAt(i)); }

 private:
  std::int32_t keyLength_;
};

}  // namespace simdex
