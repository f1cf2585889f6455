#pragma once
// Test support: a page store that passes every call on to another store and
// writes a transcript of the tree's page traffic: "R<page>" for a read,
// "W<page>" for a write, "A<page>" for an allocation (with the page it gave)
// and "F<page>" for a free.
#include <memory>
#include <string>
#include <vector>

#include "gist/PageStore.h"

namespace simdex {

class RecordingStore : public PageStore {
 public:
  RecordingStore(std::unique_ptr<PageStore> inner, std::vector<std::string>* log)
      : inner_(std::move(inner)), log_(log) {}

  Status CreateNew(const std::string& name) override { return inner_->CreateNew(name); }
  Status OpenExisting(const std::string& name) override { return inner_->OpenExisting(name); }
  void CloseFile() override { inner_->CloseFile(); }
  Status ReadPage(std::int32_t page, std::span<std::byte> buffer) override {
    log_->push_back("R" + std::to_string(page));
    return inner_->ReadPage(page, buffer);
  }
  Status WritePage(std::int32_t page, std::span<const std::byte> buffer) override {
    log_->push_back("W" + std::to_string(page));
    return inner_->WritePage(page, buffer);
  }
  Status AllocatePage(std::int32_t* page) override {
    Status s = inner_->AllocatePage(page);
    log_->push_back("A" + std::to_string(*page));
    return s;
  }
  Status FreePage(std::int32_t page) override {
    log_->push_back("F" + std::to_string(page));
    return inner_->FreePage(page);
  }
  int IsFileOpen() const override { return inner_->IsFileOpen(); }
  std::int32_t GetPageSize() const override { return inner_->GetPageSize(); }

 private:
  std::unique_ptr<PageStore> inner_;
  std::vector<std::string>* log_;
};

}  // namespace simdex
