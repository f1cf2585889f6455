#pragma once
// The address of a node: the page numbers from the root (always page 1) down
// to the node. The tree keeps no parent links on disk, so every walk carries
// one of these. A path is a value and is copied wherever it is passed on.
#include <array>
#include <cstdint>

#include "gist/TreeObject.h"
#include "platform/Status.h"

namespace simdex {

class NodePath : public TreeObject {
 public:
  // Room for 16 pages, so a tree has at most 16 levels.
  static constexpr int kMaxLength = 16;
  // The page of every tree's root.
  static constexpr std::int32_t kRootPage = 1;

  NodePath() = default;
  // The root's path: page 1 alone.
  static NodePath Root();

  int Length() const { return length_; }
  // Page i of the path, 0 being the root.
  std::int32_t operator[](int i) const;
  // The page of the addressed node. The path must not be empty.
  std::int32_t LastPage() const;
  bool IsRoot() const { return length_ == 1; }

  // Appends a page. A full path (16 pages) refuses with FailedPrecondition:
  // the tree would be deeper than a path can address.
  [[nodiscard]] Status Append(std::int32_t page);
  // Drops the last page, giving the parent's path. The path must not be empty.
  void DropLast();
  // The path without its last page.
  NodePath Parent() const;
  // Replaces the page of the addressed node (the path must not be empty).
  void SetLastPage(std::int32_t page);

  bool operator==(const NodePath& other) const;

 private:
  std::array<std::int32_t, kMaxLength> items_{};
  int length_ = 0;
};

}  // namespace simdex
