#pragma once
// Writes rows of doubles in the vector file formats the readers accept
// (fvecs, npy float64, csv, raw float64 .bin; not bvecs), plus the tables of
// a ground truth: ivecs (per row int32 k, then k int32) and raw
// little-endian float64.
//
// An output that is not finished by a successful Close is removed: a failed
// run leaves no file that looks complete.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/Status.h"
#include "tools/simdex/VectorReader.h"

namespace simdex::cli {

class VectorWriter {
 public:
  // Creates (or replaces) path for rows of `dimension` values.
  // InvalidArgument for bvecs (it holds bytes, not doubles) and a dimension
  // that is not positive.
  static Status Create(const std::string& path, VectorFormat format, int dimension,
                       std::unique_ptr<VectorWriter>* writer);
  ~VectorWriter();
  VectorWriter(const VectorWriter&) = delete;
  VectorWriter& operator=(const VectorWriter&) = delete;

  // Appends a row of exactly dimension() finite values. fvecs stores float32
  // (rounded to nearest); a value beyond float32's range is refused. csv
  // writes the shortest text that reads back as the same double.
  Status Write(std::span<const double> row);
  // Completes the file (an npy header gets the number of rows) and closes it.
  Status Close();

  std::int64_t rows() const { return rows_; }
  int dimension() const { return dimension_; }
  const std::string& path() const { return path_; }

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  VectorWriter(std::unique_ptr<std::FILE, Closer> file, std::string path, VectorFormat format,
               int dimension);
  Status Put(const void* data, std::size_t size);
  Status WriteNpyHeader();

  std::unique_ptr<std::FILE, Closer> file_;
  std::string path_;
  VectorFormat format_;
  int dimension_;
  std::int64_t rows_ = 0;
  std::vector<unsigned char> buffer_;
};

// Writes rows as an ivecs file (each row its own length).
Status WriteIvecs(const std::string& path, const std::vector<std::vector<std::int32_t>>& rows);
// Writes values as raw little-endian float64.
Status WriteRawDoubles(const std::string& path, std::span<const double> values);

}  // namespace simdex::cli
