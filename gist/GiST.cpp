#include "gist/GiST.h"

#include <string>
#include <vector>

#include "platform/Assert.h"

namespace simdex {
namespace {

// Node header and end offset around the entry records of a page.
constexpr std::int64_t kNodeOverhead = GiSTnode::kHeaderSize + 2;
// Per entry besides its key: the pointer, plus a table slot with keys of
// varying length.
constexpr std::int64_t kFixedRecordExtra = 4;
constexpr std::int64_t kVariableRecordExtra = 6;

std::string PageName(std::int32_t page) { return "page " + std::to_string(page); }

Status MaximumHeight() {
  return Status::FailedPrecondition("the index has reached its maximum height of " +
                                    std::to_string(NodePath::kMaxLength) + " levels");
}

// An entry must fit in a node of its own. With keys of varying length it may
// take at most half a node's room, so that a node it overflows can always be
// cut in two halves that fit.
Status CheckEntryFits(const GiSTnode& node, const TreeEntry& entry, std::int32_t pageSize) {
  const std::int32_t fixlen = node.KeyLength();
  const std::int32_t keyLen = entry.CompressedKeyLength();
  const std::int64_t room = pageSize - kNodeOverhead;
  if (fixlen > 0) {
    if (keyLen != fixlen) {
      return Status::InvalidArgument("entry key of " + std::to_string(keyLen) +
                                     " bytes; the index stores keys of " + std::to_string(fixlen) +
                                     " bytes");
    }
    if (fixlen + kFixedRecordExtra > room) {
      return Status::InvalidArgument("keys of " + std::to_string(fixlen) +
                                     " bytes do not fit in a page");
    }
    return Status::OK();
  }
  if (keyLen < 0 || 2 * (keyLen + kVariableRecordExtra) > room) {
    return Status::InvalidArgument("entry key of " + std::to_string(keyLen) +
                                   " bytes is too large for a page");
  }
  return Status::OK();
}

// With fixed-length keys a split adds exactly one entry to the parent and a
// key refresh none, so an ancestor that can take one more entry stops every
// chain of splits below it.
bool HasRoomForOneMore(const GiSTnode& node, std::int32_t pageSize) {
  const std::int32_t fixlen = node.KeyLength();
  return fixlen > 0 && std::int64_t{node.PackedSize()} + fixlen + kFixedRecordExtra <= pageSize;
}

}  // namespace

GiST::~GiST() { CloseIndex(); }

Status GiST::CreateIndex(const std::string& fileName) {
  if (isOpen_) return Status::FailedPrecondition("index is already open");
  store_ = MakeStore();
  SIMDEX_RETURN_IF_ERROR(store_->CreateNew(fileName));
  std::int32_t page = 0;
  Status s = store_->AllocatePage(&page);
  if (s.ok() && page != NodePath::kRootPage) {
    s = Status::Corruption("a new page file gave " + PageName(page) + " for the root");
  }
  if (s.ok()) {
    std::unique_ptr<GiSTnode> root = MakeNode();
    root->SetTree(this);
    root->SetPath(NodePath::Root());
    s = WriteNode(*root);
  }
  if (!s.ok()) {
    store_->CloseFile();
    return s;
  }
  isOpen_ = 1;
  return Status::OK();
}

Status GiST::OpenIndex(const std::string& fileName) {
  if (isOpen_) return Status::FailedPrecondition("index is already open");
  store_ = MakeStore();
  SIMDEX_RETURN_IF_ERROR(store_->OpenExisting(fileName));
  isOpen_ = store_->IsFileOpen();
  return Status::OK();
}

void GiST::CloseIndex() {
  if (!isOpen_) return;
  store_->CloseFile();
  isOpen_ = 0;
}

Status GiST::LoadNode(const NodePath& path, std::unique_ptr<GiSTnode>* node) {
  node->reset();
  if (!isOpen_) return Status::FailedPrecondition("index is not open");
  if (path.Length() == 0) return Status::InvalidArgument("empty node path");
  const std::int32_t page = path.LastPage();
  std::vector<std::byte> buffer(static_cast<std::size_t>(store_->GetPageSize()));
  std::unique_ptr<GiSTnode> loaded = MakeNode();
  loaded->SetTree(this);
  SIMDEX_RETURN_IF_ERROR(store_->ReadPage(page, buffer));
  Status s = loaded->UnpackPage(buffer);
  if (!s.ok()) {
    if (s.IsCorruption()) return Status::Corruption(PageName(page) + ": " + s.message());
    return s;
  }
  loaded->SetPath(path);
  *node = std::move(loaded);
  return Status::OK();
}

Status GiST::StoreNode(const GiSTnode& node) {
  if (!isOpen_) return Status::FailedPrecondition("index is not open");
  return WriteNode(node);
}

Status GiST::WriteNode(const GiSTnode& node) {
  if (node.Path().Length() == 0) return Status::InvalidArgument("empty node path");
  std::vector<std::byte> buffer(static_cast<std::size_t>(store_->GetPageSize()));
  node.PackPage(buffer);
  return store_->WritePage(node.Path().LastPage(), buffer);
}

Status GiST::LoadParent(const GiSTnode& node, std::unique_ptr<GiSTnode>* parent) {
  parent->reset();
  if (node.Path().Length() < 2) return Status::InvalidArgument("the root has no parent");
  return LoadNode(node.Path().Parent(), parent);
}

Status GiST::InsertEntry(TreeEntry& entry) {
  if (!isOpen_) return Status::FailedPrecondition("index is not open");
  const std::int32_t pageSize = store_->GetPageSize();
  NodePath path = NodePath::Root();
  std::unique_ptr<GiSTnode> node;
  SIMDEX_RETURN_IF_ERROR(LoadNode(path, &node));
  SIMDEX_RETURN_IF_ERROR(CheckEntryFits(*node, entry, pageSize));

  bool ancestorHasRoom = false;
  while (!node->IsLeaf()) {
    if (HasRoomForOneMore(*node, pageSize)) ancestorHasRoom = true;
    std::int32_t child = 0;
    SIMDEX_RETURN_IF_ERROR(node->ChooseChild(entry, &child));
    const std::int32_t childLevel = node->Level() - 1;
    const std::int32_t page = path.LastPage();
    node.reset();
    if (child < NodePath::kRootPage) {
      return Status::Corruption(PageName(page) + ": entry points to " + PageName(child));
    }
    // Levels fall by one per step and start below 16, so the path has room.
    SIMDEX_RETURN_IF_ERROR(path.Append(child));
    SIMDEX_RETURN_IF_ERROR(LoadNode(path, &node));
    if (node->Level() != childLevel) {
      return Status::Corruption(PageName(child) + " has level " + std::to_string(node->Level()) +
                                " under a node of level " + std::to_string(childLevel + 1));
    }
  }

  node->InsertOrdered(entry);
  const bool overflows = node->Overflows(*store_) != 0;
  // A full-height tree must not start a chain of splits that could reach the
  // root: refuse before the first page is written.
  if (path.Length() == NodePath::kMaxLength &&
      !(node->KeyLength() > 0 && (!overflows || ancestorHasRoom))) {
    return MaximumHeight();
  }
  if (!overflows) {
    SIMDEX_RETURN_IF_ERROR(WriteNode(*node));
    return RefreshParentKeys(*node);
  }
  SIMDEX_RETURN_IF_ERROR(SplitOverfull(&node, entry));
  SIMDEX_ASSERT(!node->Overflows(*store_), "overflow");
  return RefreshParentKeys(*node);
}

Status GiST::SplitOverfull(std::unique_ptr<GiSTnode>* node, const TreeEntry& entry) {
  GiSTnode& n = **node;
  const bool wasRoot = n.Path().IsRoot();
  if (wasRoot) {
    // The new root would be level 16, one more than a path can reach.
    if (n.Level() + 1 >= NodePath::kMaxLength) return MaximumHeight();
    std::int32_t moved = 0;
    SIMDEX_RETURN_IF_ERROR(store_->AllocatePage(&moved));
    SIMDEX_RETURN_IF_ERROR(n.Path().Append(moved));
  }
  std::unique_ptr<GiSTnode> s;
  SIMDEX_RETURN_IF_ERROR(n.SplitNode(&s));
  SIMDEX_ASSERT(s != nullptr, "s!=NULL");
  std::int32_t q = 0;
  SIMDEX_RETURN_IF_ERROR(store_->AllocatePage(&q));
  s->Path().SetLastPage(q);
  const std::int32_t nPage = n.Path().LastPage();
  const bool entryStaysInN = n.IndexOfPointer(entry.Pointer()) >= 0;
  s->SetRightSibling(n.RightSibling());
  n.SetRightSibling(q);
  SIMDEX_RETURN_IF_ERROR(WriteNode(n));
  SIMDEX_RETURN_IF_ERROR(WriteNode(*s));

  std::unique_ptr<TreeEntry> cn;
  SIMDEX_RETURN_IF_ERROR(n.CoveringEntry(&cn));
  SIMDEX_ASSERT(cn != nullptr, "cn!=NULL");
  cn->SetPointer(nPage);
  std::unique_ptr<TreeEntry> cs;
  SIMDEX_RETURN_IF_ERROR(s->CoveringEntry(&cs));
  SIMDEX_ASSERT(cs != nullptr, "cs!=NULL");
  cs->SetPointer(q);

  if (wasRoot) {
    std::unique_ptr<GiSTnode> root = MakeNode();
    root->SetTree(this);
    root->SetLevel(n.Level() + 1);
    root->SetPath(NodePath::Root());
    root->InsertAt(*cn, 0);
    root->InsertAt(*cs, 1);
    SIMDEX_RETURN_IF_ERROR(WriteNode(*root));
  } else {
    std::unique_ptr<GiSTnode> parent;
    SIMDEX_RETURN_IF_ERROR(LoadNode(n.Path().Parent(), &parent));
    const int i = parent->IndexOfPointer(nPage);
    SIMDEX_ASSERT(i >= 0, "e!=NULL");
    parent->RemoveAt(i);
    parent->InsertAt(*cn, i);
    parent->InsertAt(*cs, i + 1);
    if (parent->Overflows(*store_)) {
      SIMDEX_RETURN_IF_ERROR(SplitOverfull(&parent, entryStaysInN ? *cn : *cs));
      NodePath nPath = parent->Path();
      SIMDEX_RETURN_IF_ERROR(nPath.Append(nPage));
      n.SetPath(nPath);
      NodePath sPath = parent->Path();
      SIMDEX_RETURN_IF_ERROR(sPath.Append(q));
      s->SetPath(sPath);
    } else {
      SIMDEX_RETURN_IF_ERROR(WriteNode(*parent));
    }
  }
  if (!entryStaysInN) *node = std::move(s);
  return Status::OK();
}

Status GiST::RefreshParentKeys(GiSTnode& node) {
  if (node.Path().Length() <= 1) return Status::OK();
  const std::int32_t page = node.Path().LastPage();
  std::unique_ptr<GiSTnode> parent;
  SIMDEX_RETURN_IF_ERROR(LoadNode(node.Path().Parent(), &parent));
  const int i = parent->IndexOfPointer(page);
  SIMDEX_ASSERT(i >= 0, "entry!=NULL");
  std::unique_ptr<TreeEntry> u;
  SIMDEX_RETURN_IF_ERROR(node.CoveringEntry(&u));
  SIMDEX_ASSERT(u != nullptr, "u!=NULL");
  u->SetPointer(page);
  if (parent->EntryAt(i)->SameAs(*u)) return Status::OK();
  parent->RemoveAt(i);
  parent->InsertAt(*u, i);
  if (parent->Overflows(*store_)) {
    // The split posts covering entries for both halves of the parent.
    SIMDEX_RETURN_IF_ERROR(SplitOverfull(&parent, *u));
    NodePath path = parent->Path();
    SIMDEX_RETURN_IF_ERROR(path.Append(page));
    node.SetPath(path);
    return Status::OK();
  }
  SIMDEX_RETURN_IF_ERROR(WriteNode(*parent));
  return RefreshParentKeys(*parent);
}

}  // namespace simdex
