#pragma once
// Test and benchmark support: the entry of the small test trees. Its key is
// keyLen bytes (a KeyBytes, rebuilt by the generic FromCompressed): a signed
// 32-bit value, little-endian, then filler bytes derived from the value so
// that every byte of a page is recognisable. Keys shorter than 4 bytes have
// the value 0. Entries order by value; the cost of putting a new entry under
// this one is the distance between their values.
#include <cstdlib>
#include <memory>
#include <vector>

#include "gist/KeyBytes.h"
#include "gist/TreeEntry.h"
#include "platform/Coding.h"

namespace simdex {

class TestEntry : public TreeEntry {
 public:
  TestEntry() = default;
  TestEntry(std::int32_t value, std::int32_t keyLen, std::int32_t pointer) {
    std::vector<std::byte> bytes(static_cast<std::size_t>(keyLen));
    for (std::size_t j = 0; j < bytes.size(); ++j) {
      bytes[j] = static_cast<std::byte>((value + static_cast<std::int32_t>(j)) & 0xff);
    }
    if (keyLen >= 4) EncodeInt32(reinterpret_cast<unsigned char*>(bytes.data()), value);
    SetKey(std::make_unique<KeyBytes>(std::move(bytes)));
    SetPointer(pointer);
  }
  TestEntry(const TestEntry& other) : TreeEntry(other) {
    if (other.Key()) SetKey(std::make_unique<KeyBytes>(other.Bytes()));
  }

  std::unique_ptr<TreeEntry> Clone() const override { return std::make_unique<TestEntry>(*this); }

  int SameAs(const TreeObject& other) const override {
    const auto* entry = dynamic_cast<const TestEntry*>(&other);
    return entry != nullptr && entry->Bytes() == Bytes();
  }

  std::unique_ptr<CostValue> InsertionCost(const TreeEntry& newEntry) const override {
    const auto& entry = dynamic_cast<const TestEntry&>(newEntry);
    return std::make_unique<CostValue>(
        std::abs(static_cast<double>(entry.Value()) - static_cast<double>(Value())));
  }

  std::int32_t CompressedKeyLength() const override {
    return static_cast<std::int32_t>(Bytes().size());
  }

  CompressedEntry ToCompressed() const override {
    CompressedEntry compressed;
    compressed.keyBytes = Bytes();
    compressed.keyLen = CompressedKeyLength();
    compressed.pointer = Pointer();
    return compressed;
  }

  int CompareOrder(const TreeEntry& other) const override {
    const std::int32_t a = Value();
    const std::int32_t b = dynamic_cast<const TestEntry&>(other).Value();
    return a > b ? 1 : (a == b ? 0 : -1);
  }

  std::int32_t Value() const {
    const std::vector<std::byte>& bytes = Bytes();
    if (bytes.size() < 4) return 0;
    return DecodeInt32(reinterpret_cast<const unsigned char*>(bytes.data()));
  }

  const std::vector<std::byte>& Bytes() const {
    static const std::vector<std::byte> kNone;
    const auto* key = static_cast<const KeyBytes*>(Key());
    return key ? key->Bytes() : kNone;
  }
};

}  // namespace simdex
