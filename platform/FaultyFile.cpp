#include "platform/FaultyFile.h"

#include <algorithm>

namespace simdex {
namespace {

// True when this call is to be damaged; counts the call down otherwise.
bool Strikes(FaultyFile::Fault& fault) {
  if (fault.okCalls < 0) return false;
  if (fault.okCalls == 0) return true;
  --fault.okCalls;
  return false;
}

}  // namespace

FileOpener FaultyFile::Wrap(FileOpener base, std::shared_ptr<Plan> plan) {
  return [base = std::move(base), plan](const std::string& name, FileMode mode,
                                        std::unique_ptr<File>* file) {
    std::unique_ptr<File> inner;
    Status s = base(name, mode, &inner);
    if (!s.ok()) return s;
    *file = std::make_unique<FaultyFile>(std::move(inner), plan);
    return Status::OK();
  };
}

Status FaultyFile::ReadAt(std::uint64_t offset, std::span<std::byte> out, std::size_t* bytesRead) {
  *bytesRead = 0;
  if (!Strikes(plan_->read)) return base_->ReadAt(offset, out, bytesRead);
  if (plan_->read.effect == Effect::kFail) return Status::IOError("injected read failure");
  return base_->ReadAt(offset, out.first(std::min(out.size(), plan_->read.bytes)), bytesRead);
}

Status FaultyFile::WriteAt(std::uint64_t offset, std::span<const std::byte> data) {
  if (!Strikes(plan_->write)) return base_->WriteAt(offset, data);
  if (plan_->write.effect == Effect::kShorten) {
    Status s = base_->WriteAt(offset, data.first(std::min(data.size(), plan_->write.bytes)));
    if (!s.ok()) return s;
  }
  return Status::IOError("injected write failure");
}

}  // namespace simdex
