#include "regfile/key_order.h"

#include <algorithm>
#include <numeric>
#include <string_view>
#include <vector>

#include "logging/logger.h"

namespace orvex {

void SortKeys(RegistryDocument& document) {
  const int size = document.size();
  if (size < 2) return;
  // Collation keys order byte-wise exactly as CompareIgnoreCase orders the paths, and a stable
  // sort gives equal paths the same order as an exchange sort of neighbours would.
  std::vector<std::string_view> keys(static_cast<std::size_t>(size));
  for (int i = 0; i < size; ++i) keys[static_cast<std::size_t>(i)] = document.CollationKeyAt(i);
  const auto less = [&keys](int a, int b) {
    return keys[static_cast<std::size_t>(a)] < keys[static_cast<std::size_t>(b)];
  };
  std::vector<int> order(static_cast<std::size_t>(size));
  std::iota(order.begin(), order.end(), 0);
  // Files are mostly written in order already: the runs that stand in order are merged pairwise
  // (taking from the earlier run on a tie) until one is left, which costs little more than a
  // look at each key when the file is sorted.
  std::vector<std::size_t> runs = {0};  // where each run starts, then the end
  for (int i = 1; i < size; ++i) {
    if (less(i, i - 1)) runs.push_back(static_cast<std::size_t>(i));
  }
  runs.push_back(order.size());
  std::vector<int> merged(order.size());
  while (runs.size() > 2) {
    std::vector<std::size_t> next;
    std::size_t r = 0;
    for (; r + 2 < runs.size(); r += 2) {
      std::merge(order.begin() + runs[r], order.begin() + runs[r + 1], order.begin() + runs[r + 1],
                 order.begin() + runs[r + 2], merged.begin() + runs[r], less);
      next.push_back(runs[r]);
    }
    if (r + 1 < runs.size()) {  // an odd run out stays as it is
      std::copy(order.begin() + runs[r], order.begin() + runs[r + 1], merged.begin() + runs[r]);
      next.push_back(runs[r]);
    }
    next.push_back(order.size());
    order.swap(merged);
    runs.swap(next);
  }
  document.ReorderKeys(order);
}

void PlaceImportMarkers(RegistryDocument& document) {
  const int marker_key = document.FindKey(kImportMarkerKeyPath);
  if (marker_key < 0) {
    LogError(u"Import markers are not found");
    return;
  }
  const RegistryValueList& markers = document.KeyAt(marker_key).values();
  const int prologue_value = markers.FindValue(kPrologueMarkerName);
  const int epilogue_value = markers.FindValue(kEpilogueMarkerName);
  if (prologue_value < 0 || epilogue_value < 0) {
    LogError(u"Import markers appear to be incomplete");
    return;
  }

  RegistryKeyEntry prologue(kImportMarkerKeyPath);
  RegistryKeyEntry epilogue(kImportMarkerKeyPath);
  if (!prologue.values().AddValue(kPrologueMarkerName, markers[prologue_value].value)) {
    LogError(u"Failed to insert prologue marker");
  }
  if (!epilogue.values().AddValue(kEpilogueMarkerName, markers[epilogue_value].value)) {
    LogError(u"Failed to insert epilogue marker");
  }
  document.RemoveKeyAt(marker_key);
  document.InsertKeyAt(0, prologue);
  document.AddKey(std::move(epilogue));
  LogDebug(u"Import markers inserted successfully");
}

}  // namespace orvex
