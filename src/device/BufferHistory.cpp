#include "device/BufferHistory.h"

#include <filesystem>

#include "common/HexText.h"
#include "files/Loaders.h"

namespace tandra {

namespace {
constexpr std::size_t kLayersKept = 64;
}

void BufferHistory::add(Layer layer) {
  // Edits one after another are one layer.
  if (layer.kind == Layer::Kind::Edits && !layers_.empty() &&
      layers_.back().kind == Layer::Kind::Edits) {
    return;
  }
  layers_.push_back(std::move(layer));
  if (layers_.size() > kLayersKept) layers_.erase(layers_.begin());
}

void BufferHistory::loaded(const std::string& name, const LoadReport& report,
                           std::int32_t windowEnd) {
  Layer layer{Layer::Kind::File, name, -1,
              ImageStanding{.bytesSet = static_cast<std::int64_t>(report.bytesSet()),
                            .notes = report.notes()}};
  // Every address of the window stored, and none past it: the file alone fills the window.
  // (Stores are counted once per address; a store past the device makes the load unclean.)
  if (report.bytesPastDevice == 0 &&
      report.bytesSet() >= static_cast<std::uint64_t>(windowEnd) + 1) {
    layer.coveredEnd = windowEnd;
  }
  add(std::move(layer));
}

void BufferHistory::loadStopped(const std::string& name, const std::string& error) {
  add({Layer::Kind::File, name, -1, ImageStanding{.bytesSet = 1, .notes = error}});
}

void BufferHistory::filled(std::uint8_t byte, std::int32_t windowEnd) {
  add({Layer::Kind::Fill, "a fill of " + hexByte(byte), windowEnd, {}});
}

void BufferHistory::read(int socket, bool whole, std::int32_t windowEnd) {
  add({Layer::Kind::Read,
       "socket " + std::to_string(socket) + "'s chip",
       whole ? windowEnd : -1,
       {}});
}

void BufferHistory::edited() {
  add({Layer::Kind::Edits, "edits", -1, {}});
}

std::vector<const BufferHistory::Layer*> BufferHistory::shown(std::int32_t windowEnd) const {
  std::vector<const Layer*> layers;
  for (auto it = layers_.rbegin(); it != layers_.rend(); ++it) {
    layers.push_back(&*it);
    if (it->coveredEnd >= windowEnd) break;
  }
  return layers;
}

std::string BufferHistory::name(std::int32_t windowEnd, bool fileNamesOnly) const {
  const std::vector<const Layer*> layers = shown(windowEnd);
  bool anyFile = false;
  for (const Layer* layer : layers) anyFile |= layer->kind == Layer::Kind::File;
  if (!anyFile) return {};
  std::string text;
  for (const Layer* layer : layers) {
    std::string word = layer->name;
    if (layer->kind == Layer::Kind::File && fileNamesOnly) {
      word = std::filesystem::path(layer->name).filename().string();
    }
    text += (text.empty() ? "" : " over ") + word;
  }
  return text;
}

ImageStanding BufferHistory::standing(std::int32_t windowEnd) const {
  ImageStanding standing;
  standing.bytesSet = 0;
  const std::vector<const Layer*> layers = shown(windowEnd);
  for (const Layer* layer : layers) {
    standing.bytesSet += layer->kind == Layer::Kind::File ? layer->standing.bytesSet : 1;
    if (layer->standing.notes.empty()) continue;
    if (!standing.notes.empty()) standing.notes += " ";
    // With more than one file in the buffer, each note says which file it is about.
    standing.notes +=
        layers.size() > 1 ? layer->name + ": " + layer->standing.notes : layer->standing.notes;
  }
  return standing;
}

}  // namespace tandra
