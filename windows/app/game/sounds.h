// The 7 sound effects of "sounds.qda" on the sound component's channels,
// with a priority rule for which playing effect gives way.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ddsd.h"

namespace zt::win {

// The channel a new effect takes. Channels that have stopped get priority 0
// first; then the lowest priority wins, the first of equals.
std::size_t ChooseChannel(std::vector<std::int32_t>& priorities, const std::vector<bool>& playing);

struct NoCaseLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

class TSounds {
 public:
  static constexpr const char* kArchive = "sounds.qda";

  explicit TSounds(TDDSD& sound);
  ~TSounds();
  TSounds(const TSounds&) = delete;
  TSounds& operator=(const TSounds&) = delete;

  void AddSound(const std::string& name);
  void Play(std::string_view name, std::int32_t priority);

  bool PlaySE = true;
  const std::vector<std::int32_t>& Priorities() const { return priorities_; }

 private:
  TDDSD& sound_;
  QdaBudget budget_;  // what the members loaded from the archive may decode to
  std::map<std::string, std::unique_ptr<TDDSDWaveData>, NoCaseLess> waves_;
  std::vector<std::string> load_order_;
  std::vector<std::int32_t> priorities_;
};

}  // namespace zt::win
