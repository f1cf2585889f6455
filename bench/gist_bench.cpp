// Page reads and writes through PageFile on a warm file, and packing and
// unpacking of a full node, each to be read as a ratio against BM_MemcpyPage
// (a plain copy of one page) from the same run.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "gist/PageFile.h"
#include "gist/TestNode.h"
#include "platform/CostCounters.h"

namespace simdex {
namespace {

constexpr std::size_t kPage = PageFile::kPageSize;
// Enough pages to leave the CPU caches, few enough to stay in the OS cache.
constexpr std::int32_t kPages = 256;

// A page buffer starting on a 4096-byte boundary. Two heap blocks allocated
// one after the other often sit a few bytes apart modulo 4096, and copying
// between such addresses is many times slower on common CPUs ("4K
// aliasing"); aligned buffers keep that accident out of the baseline.
class AlignedPage {
 public:
  explicit AlignedPage(std::byte fill = std::byte{0}) : storage_(kPage + 4096, fill) {
    const auto address = reinterpret_cast<std::uintptr_t>(storage_.data());
    page_ = std::span(storage_.data() + (4096 - address % 4096) % 4096, kPage);
  }
  std::span<std::byte> span() { return page_; }
  std::byte* data() { return page_.data(); }

 private:
  std::vector<std::byte> storage_;
  std::span<std::byte> page_;
};

void BM_MemcpyPage(benchmark::State& state) {
  AlignedPage from(std::byte{1});
  AlignedPage to;
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), kPage);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPage));
}
BENCHMARK(BM_MemcpyPage);

// A page file of kPages pages in a fresh temporary directory, written once so
// that every later transfer hits the OS cache.
class WarmFile {
 public:
  WarmFile() {
    char pattern[] = "/tmp/simdex-bench-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    (void)file_.CreateNew(dir_ + "/index");
    std::vector<std::byte> page(kPage, std::byte{7});
    for (std::int32_t i = 1; i <= kPages; ++i) {
      std::int32_t allocated = 0;
      (void)file_.AllocatePage(&allocated);
      (void)file_.WritePage(allocated, page);
    }
    SetActiveCounters(&counters_);
  }
  ~WarmFile() {
    SetActiveCounters(nullptr);
    file_.CloseFile();
    std::filesystem::remove_all(dir_);
  }
  PageFile& file() { return file_; }

 private:
  std::string dir_;
  PageFile file_;
  CostCounters counters_;
};

void BM_PageFileRead(benchmark::State& state) {
  WarmFile warm;
  AlignedPage buffer;
  std::int32_t page = 0;
  for (auto _ : state) {
    if (!warm.file().ReadPage(page % kPages + 1, buffer.span()).ok()) {
      state.SkipWithError("read failed");
    }
    benchmark::DoNotOptimize(buffer.data());
    ++page;
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPage));
}
BENCHMARK(BM_PageFileRead);

void BM_PageFileWrite(benchmark::State& state) {
  WarmFile warm;
  AlignedPage buffer(std::byte{3});
  std::int32_t page = 0;
  for (auto _ : state) {
    if (!warm.file().WritePage(page % kPages + 1, buffer.span()).ok()) {
      state.SkipWithError("write failed");
    }
    ++page;
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPage));
}
BENCHMARK(BM_PageFileWrite);

// A full node laid out like a 45-number vector index: 40 records of 400 bytes.
constexpr std::int32_t kKeyLen = 396;
constexpr int kFullNode = 40;

TestNode FullNode() {
  TestNode node(kKeyLen);
  for (int i = 0; i < kFullNode; ++i) node.InsertAt(TestEntry(i, kKeyLen, i), i);
  return node;
}

void BM_PackFullNode(benchmark::State& state) {
  const TestNode node = FullNode();
  AlignedPage page;
  for (auto _ : state) {
    node.PackPage(page.span());
    benchmark::DoNotOptimize(page.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPage));
}
BENCHMARK(BM_PackFullNode);

void BM_UnpackFullNode(benchmark::State& state) {
  AlignedPage page;
  FullNode().PackPage(page.span());
  TestNode node(kKeyLen);
  for (auto _ : state) {
    if (!node.UnpackPage(page.span()).ok()) state.SkipWithError("unpack failed");
    benchmark::DoNotOptimize(node.EntryAt(0));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPage));
}
BENCHMARK(BM_UnpackFullNode);

}  // namespace
}  // namespace simdex

BENCHMARK_MAIN();
