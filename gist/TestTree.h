#pragma once
// Test and benchmark support: a tree of TestNode pages in a PageFile whose
// files come from the given opener (memory, faulty or real). With a log, the
// store records the page traffic (see RecordingStore).
#include <memory>
#include <string>
#include <vector>

#include "gist/GiST.h"
#include "gist/PageFile.h"
#include "gist/RecordingStore.h"
#include "gist/TestNode.h"

namespace simdex {

class TestTree : public GiST {
 public:
  TestTree(FileOpener opener, std::int32_t keyLength, std::vector<std::string>* log = nullptr)
      : opener_(std::move(opener)), keyLength_(keyLength), log_(log) {}

  std::unique_ptr<PageStore> MakeStore() override {
    auto file = std::make_unique<PageFile>(opener_);
    if (log_ == nullptr) return file;
    return std::make_unique<RecordingStore>(std::move(file), log_);
  }
  std::unique_ptr<GiSTnode> MakeNode() override { return std::make_unique<TestNode>(keyLength_); }

 private:
  FileOpener opener_;
  std::int32_t keyLength_;
  std::vector<std::string>* log_;
};

}  // namespace simdex
