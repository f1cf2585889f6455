#pragma once
// NumPy .npy files (format versions 1.0, 2.0 and 3.0) holding a 2-D array
// in C order of float32 or float64, in either byte order: one row per
// vector. Everything else (Fortran order, other shapes or types) is refused
// with a message saying what the file holds.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/simdex/InputFile.h"
#include "tools/simdex/VectorReader.h"

namespace simdex::cli {

// What the header of an .npy file says.
struct NpyHeader {
  std::string descr;  // e.g. "<f8"
  bool fortranOrder = false;
  std::vector<std::uint64_t> shape;
  std::uint64_t dataOffset = 0;  // where the array's bytes start
};

class NpyReader final : public VectorReader {
 public:
  // dimension > 0: the array must have that many columns.
  static Status Open(std::unique_ptr<InputFile> file, int dimension,
                     std::unique_ptr<VectorReader>* reader);

  // Parses the preamble and header dictionary at the start of file.
  static Status ParseHeader(InputFile& file, NpyHeader* header);

  // The rows of the shape that the file holds in full.
  std::optional<std::int64_t> RowCount() const override { return rowCount_; }

 protected:
  Status ReadRow(std::int64_t row, VectorRow* out, bool* more) override;

 private:
  NpyReader(std::unique_ptr<InputFile> file, int dimension);

  std::unique_ptr<InputFile> file_;
  std::uint64_t rows_ = 0;
  std::int64_t rowCount_ = 0;
  int dimensionOfShape_ = 0;
  std::size_t elementSize_ = 8;
  bool bigEndian_ = false;
  std::vector<unsigned char> buffer_;
};

}  // namespace simdex::cli
