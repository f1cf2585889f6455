#pragma once
// Raw little-endian float64 files: rows of a given dimension, no header.
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "tools/simdex/InputFile.h"
#include "tools/simdex/VectorReader.h"

namespace simdex::cli {

class RawDoublesReader final : public VectorReader {
 public:
  // dimension must be positive: nothing in the file tells it.
  static Status Open(std::unique_ptr<InputFile> file, int dimension,
                     std::unique_ptr<VectorReader>* reader);

  // Whole rows in the file (a partial last row is not counted).
  std::optional<std::int64_t> RowCount() const override;

 protected:
  Status ReadRow(std::int64_t row, VectorRow* out, bool* more) override;

 private:
  RawDoublesReader(std::unique_ptr<InputFile> file, int dimension);

  std::unique_ptr<InputFile> file_;
  std::uint64_t rowBytes_;
  std::vector<unsigned char> buffer_;
};

}  // namespace simdex::cli
