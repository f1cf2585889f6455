#pragma once
// File wrapper that fails or shortens reads and writes on demand, so tests can
// damage I/O at any point of an operation. The plan is shared, so a test can
// keep changing it while the file sits deep inside a page store.
#include <cstdint>
#include <memory>

#include "platform/File.h"

namespace simdex {

class FaultyFile final : public File {
 public:
  enum class Effect {
    kFail,     // the call fails and transfers nothing
    kShorten,  // the call transfers only Fault::bytes bytes: a read returns
               // fewer bytes as at the end of a file; a write stores the prefix
               // and then fails, as on a full disk
  };
  struct Fault {
    // Calls of this kind that still go through untouched; -1 plans no fault.
    // Once it has counted down to 0, every later call of the kind is faulty.
    std::int64_t okCalls = -1;
    Effect effect = Effect::kFail;
    std::size_t bytes = 0;
  };
  struct Plan {
    Fault read;
    Fault write;
  };

  FaultyFile(std::unique_ptr<File> base, std::shared_ptr<Plan> plan)
      : base_(std::move(base)), plan_(std::move(plan)) {}

  // An opener that opens through base and wraps every file in a FaultyFile
  // following plan.
  static FileOpener Wrap(FileOpener base, std::shared_ptr<Plan> plan);

  [[nodiscard]] Status ReadAt(std::uint64_t offset, std::span<std::byte> out,
                              std::size_t* bytesRead) override;
  [[nodiscard]] Status WriteAt(std::uint64_t offset, std::span<const std::byte> data) override;
  [[nodiscard]] Status Size(std::uint64_t* size) override { return base_->Size(size); }
  [[nodiscard]] Status Sync() override { return base_->Sync(); }

 private:
  std::unique_ptr<File> base_;
  std::shared_ptr<Plan> plan_;
};

}  // namespace simdex
