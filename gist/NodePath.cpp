#include "gist/NodePath.h"

#include <algorithm>
#include <string>

#include "platform/Assert.h"

namespace simdex {

NodePath NodePath::Root() {
  NodePath path;
  path.items_[0] = kRootPage;
  path.length_ = 1;
  return path;
}

std::int32_t NodePath::operator[](int i) const {
  SIMDEX_ASSERT(i >= 0 && i < length_, "i>=0 && i<length");
  return items_[i];
}

std::int32_t NodePath::LastPage() const {
  SIMDEX_ASSERT(length_ > 0, "length>0");
  return items_[length_ - 1];
}

Status NodePath::Append(std::int32_t page) {
  if (length_ == kMaxLength) {
    return Status::FailedPrecondition("node path is full: the tree cannot be deeper than " +
                                      std::to_string(kMaxLength) + " levels");
  }
  items_[length_++] = page;
  return Status::OK();
}

void NodePath::DropLast() {
  SIMDEX_ASSERT(length_ > 0, "length>0");
  --length_;
}

NodePath NodePath::Parent() const {
  NodePath parent = *this;
  parent.DropLast();
  return parent;
}

void NodePath::SetLastPage(std::int32_t page) {
  SIMDEX_ASSERT(length_ > 0, "length>0");
  items_[length_ - 1] = page;
}

bool NodePath::operator==(const NodePath& other) const {
  return length_ == other.length_ &&
         std::equal(items_.begin(), items_.begin() + length_, other.items_.begin());
}

}  // namespace simdex
