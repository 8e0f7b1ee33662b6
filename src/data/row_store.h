// Rows kept for a second pass over a result set, packed into one byte
// arena (a kind byte and the payload per value) instead of one Value object
// per cell: about a fifth of the memory for typical rows.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "data/value.h"

namespace ostrevane {

class RowStore {
 public:
  void Clear();
  void Append(const std::vector<Value>& row);
  size_t size() const { return offsets_.size(); }
  // Decodes row `index` into `row`, reusing its Values' storage.
  void Read(size_t index, std::vector<Value>& row) const;

 private:
  std::string arena_;
  std::vector<size_t> offsets_;
};

}  // namespace ostrevane
