#include "gist/GiSTnode.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "gist/GiST.h"
#include "gist/PageStore.h"
#include "platform/Assert.h"
#include "platform/Coding.h"

namespace simdex {
namespace {

// Bytes after the entry records: the end offset.
constexpr int kTrailerSize = 2;
// Per entry outside its key: the pointer, plus in variable-length mode the
// entry's slot in the offset table.
constexpr int kPointerSize = 4;
constexpr int kSlotSize = 2;
// 16-bit page offsets cap the page size.
constexpr std::int64_t kMaxPageSize = 65536;

const unsigned char* Bytes(std::span<const std::byte> page) {
  return reinterpret_cast<const unsigned char*>(page.data());
}

std::string EntryName(int index) { return "entry " + std::to_string(index); }

}  // namespace

GiSTnode::GiSTnode(const GiSTnode& other)
    : TreeObject(other),
      path_(other.path_),
      entries_(other.entries_.size()),
      rightSibling_(other.rightSibling_),
      level_(other.level_),
      numEntries_(other.numEntries_),
      tree_(other.tree_) {
  for (int i = 0; i < numEntries_; ++i) {
    if (!other.entries_[i]) continue;
    std::unique_ptr<TreeEntry> clone = other.entries_[i]->Clone();
    clone->SetNode(this);
    entries_[i] = std::move(clone);
  }
}

void GiSTnode::ClearEntries() {
  entries_.clear();
  numEntries_ = 0;
}

void GiSTnode::Grow(int index) {
  int capacity = Capacity() + kGrowth;
  if (capacity <= index) capacity = index + kGrowth + 1;
  entries_.resize(static_cast<std::size_t>(capacity));
}

TreeEntry* GiSTnode::EntryAt(int index) const {
  SIMDEX_ASSERT(index >= 0, "index>=0");
  if (index >= Capacity()) return nullptr;
  return entries_[static_cast<std::size_t>(index)].get();
}

std::unique_ptr<TreeEntry>& GiSTnode::SlotAt(int index) {
  SIMDEX_ASSERT(index >= 0, "index>=0");
  if (index >= Capacity()) Grow(index);
  return entries_[static_cast<std::size_t>(index)];
}

int GiSTnode::IndexOfPointer(std::int32_t pointer) const {
  for (int i = 0; i < numEntries_; ++i) {
    if (entries_[i]->Pointer() == pointer) return i;
  }
  return -1;
}

std::unique_ptr<TreeEntry> GiSTnode::FindByPointer(std::int32_t pointer) const {
  int i = IndexOfPointer(pointer);
  if (i < 0) return nullptr;
  return entries_[i]->Clone();
}

Status GiSTnode::ChooseChild(TreeEntry& newEntry, std::int32_t* childPage) {
  *childPage = 0;
  if (numEntries_ == 0) return Status::Corruption("internal node without entries");
  int best = -1;
  std::unique_ptr<CostValue> bestCost;
  for (int i = 0; i < numEntries_; ++i) {
    const TreeEntry* e = entries_[i].get();
    SIMDEX_ASSERT(e->Node() == this, "e->Node()==this");
    std::unique_ptr<CostValue> cost = e->InsertionCost(newEntry);
    if (best < 0 || cost->LessThan(*bestCost)) {
      best = i;
      bestCost = std::move(cost);
    }
  }
  *childPage = entries_[best]->Pointer();
  return Status::OK();
}

GiSTlist<std::unique_ptr<TreeEntry>> GiSTnode::CollectMatches(
    const EntryPredicate& predicate) const {
  GiSTlist<std::unique_ptr<TreeEntry>> matches;
  for (int i = 0; i < numEntries_; ++i) {
    if (predicate.Matches(*entries_[i])) matches.PushBack(entries_[i]->Clone());
  }
  return matches;
}

void GiSTnode::InsertOrdered(const TreeEntry& entry) {
  int i = 0;
  while (i < numEntries_ && entries_[i]->CompareOrder(entry) <= 0) ++i;
  InsertAt(entry, i);
}

void GiSTnode::InsertAt(const TreeEntry& entry, int index) {
  SIMDEX_ASSERT(index >= 0, "index>=0");
  SIMDEX_ASSERT(index <= NumEntries(), "index<=NumEntries()");
  std::unique_ptr<TreeEntry> clone = entry.Clone();
  clone->SetLevel(level_);
  clone->SetPosition(index);
  clone->SetNode(this);
  if (numEntries_ >= Capacity()) Grow(numEntries_);
  for (int j = numEntries_; j > index; --j) {
    entries_[j] = std::move(entries_[j - 1]);
    entries_[j]->SetPosition(j);
  }
  entries_[index] = std::move(clone);
  ++numEntries_;
}

void GiSTnode::RemoveAt(int index) {
  SIMDEX_ASSERT(index >= 0, "index>=0");
  SIMDEX_ASSERT(index < numEntries_, "index<numEntries");
  entries_[index].reset();
  for (int j = index; j + 1 < numEntries_; ++j) {
    entries_[j] = std::move(entries_[j + 1]);
    entries_[j]->SetPosition(j);
  }
  --numEntries_;
}

void GiSTnode::RemoveSet(std::span<int> indices) {
  std::sort(indices.begin(), indices.end());
  // A repeated index would remove the entry that moved into its place.
  SIMDEX_ASSERT(std::adjacent_find(indices.begin(), indices.end()) == indices.end(),
                "indices distinct");
  for (auto it = indices.rbegin(); it != indices.rend(); ++it) RemoveAt(*it);
}

std::int32_t GiSTnode::PackedSize() const {
  const std::int32_t fixlen = KeyLength();
  std::int64_t size = kHeaderSize + kTrailerSize;
  if (fixlen > 0) {
    size += std::int64_t{numEntries_} * (fixlen + kPointerSize);
  } else {
    for (int i = 0; i < numEntries_; ++i) {
      size += std::int64_t{entries_[i]->CompressedKeyLength()} + kPointerSize + kSlotSize;
    }
  }
  return static_cast<std::int32_t>(
      std::min<std::int64_t>(size, std::numeric_limits<std::int32_t>::max()));
}

int GiSTnode::Overflows(const PageStore& store) const {
  return PackedSize() > store.GetPageSize() ? 1 : 0;
}

void GiSTnode::PackPage(std::span<std::byte> page) const {
  const auto size = static_cast<std::int64_t>(page.size());
  SIMDEX_ASSERT(size >= kHeaderSize + kTrailerSize && size <= kMaxPageSize, "page.size() in range");
  std::fill(page.begin(), page.end(), std::byte{0});
  auto* p = reinterpret_cast<unsigned char*>(page.data());
  EncodeInt32(p, level_);
  EncodeInt32(p + 4, numEntries_);
  EncodeInt32(p + 12, rightSibling_);

  const std::int32_t fixlen = KeyLength();
  // Entry records must end below the trailer (fixed) or the offset table.
  const std::int64_t limit =
      fixlen > 0 ? size - kTrailerSize : size - std::int64_t{kSlotSize} * (numEntries_ + 1);
  std::int64_t offset = kHeaderSize;
  std::int64_t table = size;
  for (int i = 0; i < numEntries_; ++i) {
    const CompressedEntry compressedEntry = entries_[i]->ToCompressed();
    SIMDEX_ASSERT(fixlen == 0 || fixlen == compressedEntry.keyLen,
                  "fixlen==compressedEntry.keyLen");
    SIMDEX_ASSERT(
        compressedEntry.keyLen >= 0 &&
            compressedEntry.keyBytes.size() == static_cast<std::size_t>(compressedEntry.keyLen),
        "compressedEntry.keyBytes.size()==compressedEntry.keyLen");
    SIMDEX_ASSERT(offset + compressedEntry.keyLen + kPointerSize <= limit,
                  "PackedSize()<=pageSize");
    if (compressedEntry.keyLen > 0) {
      std::memcpy(p + offset, compressedEntry.keyBytes.data(), compressedEntry.keyBytes.size());
    }
    EncodeInt32(p + offset + compressedEntry.keyLen, compressedEntry.pointer);
    if (fixlen == 0) {
      table -= kSlotSize;
      EncodeFixed16(p + table, static_cast<std::uint16_t>(offset));
    }
    offset += compressedEntry.keyLen + kPointerSize;
  }
  EncodeFixed16(p + table - kSlotSize, static_cast<std::uint16_t>(offset));
}

Status GiSTnode::UnpackPage(std::span<const std::byte> page) {
  ClearEntries();
  const auto size = static_cast<std::int64_t>(page.size());
  if (size < kHeaderSize + kTrailerSize || size > kMaxPageSize) {
    return Status::InvalidArgument("node page of " + std::to_string(size) + " bytes");
  }
  const unsigned char* p = Bytes(page);
  const std::int32_t level = DecodeInt32(p);
  const std::int32_t count = DecodeInt32(p + 4);
  const std::int32_t rightSibling = DecodeInt32(p + 12);
  // Levels run from 0 at the leaves to at most one less than a path's length.
  if (level < 0 || level >= NodePath::kMaxLength) {
    return Status::Corruption("node level " + std::to_string(level));
  }
  if (rightSibling < 0) {
    return Status::Corruption("right sibling page " + std::to_string(rightSibling));
  }
  const std::int32_t fixlen = KeyLength();
  SIMDEX_ASSERT(fixlen >= 0, "KeyLength()>=0");
  // Every record takes its pointer (and in variable-length mode a table slot).
  const std::int64_t record =
      fixlen > 0 ? std::int64_t{fixlen} + kPointerSize : kPointerSize + kSlotSize;
  const std::int64_t maxCount = (size - kHeaderSize - kTrailerSize) / record;
  if (count < 0 || count > maxCount) {
    return Status::Corruption("entry count " + std::to_string(count));
  }
  if (fixlen > 0) {
    const std::int64_t end = DecodeFixed16(p + size - kTrailerSize);
    if (end != kHeaderSize + count * record) {
      return Status::Corruption("end offset " + std::to_string(end) + " does not match " +
                                std::to_string(count) + " entries");
    }
  }
  level_ = level;
  rightSibling_ = rightSibling;
  if (count > 0) Grow(count - 1);
  numEntries_ = count;
  for (int i = 0; i < count; ++i) {
    CompressedEntry compressed;
    Status s = PageEntryAt(page, i, &compressed);
    std::unique_ptr<TreeEntry> entry;
    if (s.ok()) {
      entry = MakeEntry();
      entry->SetLevel(level_);
      entry->SetPosition(i);
      entry->SetNode(this);
      s = entry->FromCompressed(compressed);
    }
    if (!s.ok()) {
      ClearEntries();
      return Status::Corruption(EntryName(i) + ": " + s.message());
    }
    entries_[i] = std::move(entry);
  }
  return Status::OK();
}

Status GiSTnode::PageEntryAt(std::span<const std::byte> page, int index,
                             CompressedEntry* entry) const {
  *entry = CompressedEntry();
  const auto size = static_cast<std::int64_t>(page.size());
  if (size < kHeaderSize + kTrailerSize || size > kMaxPageSize) {
    return Status::InvalidArgument("node page of " + std::to_string(size) + " bytes");
  }
  const unsigned char* p = Bytes(page);
  const std::int32_t count = DecodeInt32(p + 4);
  if (index < 0 || index >= count) {
    return Status::InvalidArgument("page holds no " + EntryName(index));
  }
  const std::int32_t fixlen = KeyLength();
  std::int64_t start;
  std::int64_t end;
  std::int64_t limit;
  if (fixlen > 0) {
    start = std::int64_t{fixlen + kPointerSize} * index + kHeaderSize;
    end = start + fixlen + kPointerSize;
    limit = size - kTrailerSize;
  } else {
    limit = size - std::int64_t{kSlotSize} * (std::int64_t{count} + 1);
    if (limit < kHeaderSize) return Status::Corruption("offset table overlaps the node header");
    start = DecodeFixed16(p + size - kSlotSize * std::int64_t{index} - 2);
    end = DecodeFixed16(p + size - kSlotSize * std::int64_t{index} - 4);
  }
  if (start < kHeaderSize || end - start < kPointerSize || end > limit) {
    return Status::Corruption(EntryName(index) + " spans bytes " + std::to_string(start) + " to " +
                              std::to_string(end) + " of the page");
  }
  entry->keyLen = static_cast<std::int32_t>(end - start - kPointerSize);
  entry->keyBytes.assign(page.begin() + start, page.begin() + start + entry->keyLen);
  entry->pointer = DecodeInt32(p + start + entry->keyLen);
  return Status::OK();
}

Status GiSTnode::SplitNode(std::unique_ptr<GiSTnode>* sibling) {
  sibling->reset();
  if (tree_ == nullptr) return Status::FailedPrecondition("node belongs to no tree");
  const int n = numEntries_;
  SIMDEX_ASSERT(n >= 2, "NumEntries()>=2");
  const std::int32_t fixlen = KeyLength();
  std::vector<std::int64_t> before(static_cast<std::size_t>(n) + 1, 0);
  for (int i = 0; i < n; ++i) {
    const std::int64_t bytes =
        fixlen > 0 ? std::int64_t{fixlen} + kPointerSize
                   : std::int64_t{entries_[i]->CompressedKeyLength()} + kPointerSize + kSlotSize;
    before[i + 1] = before[i] + bytes;
  }
  int keep = 1;
  std::int64_t bestLarger = std::numeric_limits<std::int64_t>::max();
  for (int k = 1; k < n; ++k) {
    const std::int64_t larger = std::max(before[k], before[n] - before[k]);
    if (larger <= bestLarger) {
      bestLarger = larger;
      keep = k;
    }
  }
  std::unique_ptr<GiSTnode> other = tree_->MakeNode();
  other->SetTree(tree_);
  other->path_ = path_;
  other->level_ = level_;
  for (int i = keep; i < n; ++i) {
    std::unique_ptr<TreeEntry>& slot = other->SlotAt(i - keep);
    slot = std::move(entries_[i]);
    slot->SetNode(other.get());
    slot->SetPosition(i - keep);
    slot->SetLevel(level_);
  }
  other->numEntries_ = n - keep;
  numEntries_ = keep;
  *sibling = std::move(other);
  return Status::OK();
}

}  // namespace simdex
