#pragma once
// TEXMEX vector files: per row a little-endian int32 dimension d, then d
// values, float32 (.fvecs) or uint8 (.bvecs, widened to double).
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "tools/simdex/InputFile.h"
#include "tools/simdex/VectorReader.h"

namespace simdex::cli {

class TexmexReader final : public VectorReader {
 public:
  enum Element { kFloat32, kUint8 };

  // dimension > 0: every row must have it; 0: the first row's.
  static Status Open(std::unique_ptr<InputFile> file, Element element, int dimension,
                     std::unique_ptr<VectorReader>* reader);

  // size / (4 + d * element size) with d the first row's dimension: exact
  // when every row has it (a partial last row is not counted).
  std::optional<std::int64_t> RowCount() const override { return rowCount_; }

 protected:
  Status ReadRow(std::int64_t row, VectorRow* out, bool* more) override;

 private:
  TexmexReader(std::unique_ptr<InputFile> file, Element element, int dimension);

  std::unique_ptr<InputFile> file_;
  Element element_;
  std::size_t elementSize_;
  std::optional<std::int64_t> rowCount_;
  std::vector<unsigned char> buffer_;
};

}  // namespace simdex::cli
