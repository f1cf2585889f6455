#include "m_trees/MTball.h"

#include <utility>

#include "platform/Assert.h"

namespace simdex {

MTball::MTball(std::unique_ptr<MTobjectHandle> object, double minimum, double cover, double parent,
               std::int32_t split, std::int32_t changedFlag)
    : minRadius(minimum),
      coverRadius(cover),
      parentDist(parent),
      childSplit(split),
      changed(changedFlag),
      object_(std::move(object)) {
  SIMDEX_ASSERT(object_ != nullptr, "object!=NULL");
}

MTball::~MTball() = default;

std::unique_ptr<MTball> MTball::Clone() const {
  return std::make_unique<MTball>(object_->Copy(), minRadius, coverRadius, parentDist, childSplit,
                                  changed);
}

void MTball::SetObject(std::unique_ptr<MTobjectHandle> object) {
  SIMDEX_ASSERT(object != nullptr, "object!=NULL");
  object_ = std::move(object);
}

}  // namespace simdex
