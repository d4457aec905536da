#include "storage/stored_row_layout.h"

#include <algorithm>
#include <cstring>

void StoredRowLayout::prepare(const NodeConfig& incoming, const NodeConfig& plain,
                              const std::vector<unsigned short>& plainColumns, const std::vector<unsigned char>& isPlain) {
  fixedWidth_ = plain.fixedWidth;
  nullBytes_ = plain.nullBytes;
  noColumns_ = plain.numColumns == 0;
  fixedCopies_.clear();
  prepareNullCopies(incoming, plain, plainColumns);
  for (unsigned short position = 0; position < plain.numFixed; ++position) {
    const unsigned short column = plainColumns[plain.columns[position]];
    const FixedCopy copy{incoming.offsets[incoming.positions[column]], plain.offsets[position],
                         getTypeWidth(static_cast<DATA_TYPE>(incoming.types[column]))};
    if (!fixedCopies_.empty()) {
      FixedCopy& last = fixedCopies_.back();
      if (last.source + last.width == copy.source && last.target + last.width == copy.target) {
        last.width = static_cast<unsigned short>(last.width + copy.width);
        continue;
      }
    }
    fixedCopies_.push_back(copy);
  }
  textIsPlain_.assign(incoming.numStrings, 0);
  for (unsigned short text = 0; text < incoming.numStrings; ++text) {
    textIsPlain_[text] = isPlain[incoming.columns[incoming.numFixed + text]];
  }
}

void StoredRowLayout::prepareNullCopies(const NodeConfig& incoming, const NodeConfig& plain,
                                        const std::vector<unsigned short>& plainColumns) {
  nullCopies_.clear();
  if (nullBytes_ == 0) return;
  bool sameBits = true;
  const auto incomingNulls = static_cast<size_t>(
      std::count_if(incoming.nullBits.begin(), incoming.nullBits.end(),
                    [](unsigned short bit) { return bit != NodeConfig::kNoNullBit; }));
  for (unsigned short index = 0; index < plain.numColumns; ++index) {
    const unsigned short target = plain.nullBits[index];
    if (target == NodeConfig::kNoNullBit) continue;
    const unsigned short source = incoming.nullBits[plainColumns[index]];
    nullCopies_.push_back({source, target});
    sameBits = sameBits && source == target;
  }
  // With no categorised column nullable the incoming bitmap is the stored
  // one: its bytes are copied with the fixed-width values.
  if (sameBits && nullCopies_.size() == incomingNulls) {
    nullCopies_.clear();
    fixedCopies_.push_back({0, 0, nullBytes_});
  }
}

void StoredRowLayout::writeNullBits(char* target, const char* plain) const {
  std::memset(target, 0, nullBytes_);
  for (const NullCopy& copy : nullCopies_) {
    const bool isNull = (static_cast<unsigned char>(plain[copy.source >> 3]) >> (copy.source & 7) & 1) != 0;
    target[copy.target >> 3] = static_cast<char>(target[copy.target >> 3] | (isNull ? 1 << (copy.target & 7) : 0));
  }
}
