#include "cli/DeviceNames.h"
#include "common/Words.h"

#include <algorithm>
#include <cctype>
#include <utility>
#include <vector>

namespace tandra::cli {

namespace {

// Edits (insertions, deletions, changes) between two names.
std::size_t distance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::string nearestDeviceNames(std::string_view name) {
  std::vector<std::pair<std::size_t, std::string_view>> ranked;
  for (const Chip& type : chips()) {
    ranked.emplace_back(distance(asciiUpper(name), type.name), type.name);
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  return std::string(ranked[0].second) + ", " + std::string(ranked[1].second) + " or " +
         std::string(ranked[2].second);
}

}  // namespace tandra::cli
