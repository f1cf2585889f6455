#pragma once
// Doubly linked list used as queue, stack and result list. Items are held by
// value; a list of std::unique_ptr owns what its items point to, so popping
// one hands the object to the caller. Callers that keep an order of their own
// walk the links (Front, Next) and put new items where they belong with
// InsertBefore.
#include <memory>
#include <utility>

#include "platform/Assert.h"

namespace simdex {

template <typename T>
class GiSTlist {
 public:
  class ListNode {
   public:
    explicit ListNode(T value) : item(std::move(value)) {}
    T item;
    ListNode* Prev() const { return prev_; }
    ListNode* Next() const { return next_.get(); }

   private:
    friend class GiSTlist;
    ListNode* prev_ = nullptr;
    std::unique_ptr<ListNode> next_;
  };

  GiSTlist() = default;
  GiSTlist(const GiSTlist&) = delete;
  GiSTlist& operator=(const GiSTlist&) = delete;
  GiSTlist(GiSTlist&& other) noexcept { *this = std::move(other); }
  GiSTlist& operator=(GiSTlist&& other) noexcept {
    if (this != &other) {
      Clear();
      front_ = std::move(other.front_);
      rear_ = std::exchange(other.rear_, nullptr);
    }
    return *this;
  }
  // Unlinks node by node: a long chain of owning links must not be destroyed
  // by recursion.
  ~GiSTlist() { Clear(); }

  bool IsEmpty() const { return front_ == nullptr; }
  // First and last list nodes; none when the list is empty.
  ListNode* Front() const { return front_.get(); }
  ListNode* Rear() const { return rear_; }

  void PushBack(T item) { InsertBefore(nullptr, std::move(item)); }
  void PushFront(T item) { InsertBefore(front_.get(), std::move(item)); }

  // Links a new node holding item just before next (at the rear when next is
  // none) and returns it. next must belong to this list.
  ListNode* InsertBefore(ListNode* next, T item) {
    auto node = std::make_unique<ListNode>(std::move(item));
    ListNode* raw = node.get();
    ListNode* prev = next ? next->prev_ : rear_;
    std::unique_ptr<ListNode>& link = prev ? prev->next_ : front_;
    node->next_ = std::move(link);
    node->prev_ = prev;
    link = std::move(node);
    if (next) {
      next->prev_ = raw;
    } else {
      rear_ = raw;
    }
    return raw;
  }

  // Unlinks the front node and returns its item. The list must not be empty.
  T PopFront() {
    SIMDEX_ASSERT(front_ != nullptr, "front!=NULL");
    return Unlink(front_.get());
  }

  // Unlinks the rear node and returns its item. The list must not be empty.
  T PopBack() {
    SIMDEX_ASSERT(rear_ != nullptr, "rear!=NULL");
    return Unlink(rear_);
  }

  // Number of items, by walking the links.
  int Count() const {
    int n = 0;
    for (ListNode* p = Front(); p; p = p->Next()) ++n;
    return n;
  }

 private:
  T Unlink(ListNode* node) {
    ListNode* prev = node->prev_;
    std::unique_ptr<ListNode>& link = prev ? prev->next_ : front_;
    std::unique_ptr<ListNode> owned = std::move(link);
    link = std::move(owned->next_);
    if (link) {
      link->prev_ = prev;
    } else {
      rear_ = prev;
    }
    return std::move(owned->item);
  }

  void Clear() {
    while (front_) front_ = std::move(front_->next_);
    rear_ = nullptr;
  }

  std::unique_ptr<ListNode> front_;
  ListNode* rear_ = nullptr;
};

}  // namespace simdex
