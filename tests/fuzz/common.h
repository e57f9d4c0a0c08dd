// Helpers the printer and FORMAT targets share.
#pragma once

#include <cstddef>
#include <cstdint>

// Whether the text labels an object (#n=): its objects may be circular,
// and then they are printed with *PRINT-CIRCLE* on, or printing would
// never end.
inline bool labels_objects(const uint8_t* data, size_t size) {
  for (size_t i = 0; i + 2 < size; i++) {
    if (data[i] != '#') continue;
    size_t j = i + 1;
    while (j < size && data[j] >= '0' && data[j] <= '9') j++;
    if (j > i + 1 && j < size && data[j] == '=') return true;
  }
  return false;
}
