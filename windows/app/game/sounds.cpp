#include "sounds.h"

#include <algorithm>

namespace zt::win {

namespace {
char lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
}  // namespace

bool NoCaseLess::operator()(std::string_view a, std::string_view b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return lower(x) < lower(y); });
}

std::size_t ChooseChannel(std::vector<std::int32_t>& priorities, const std::vector<bool>& playing) {
  std::size_t chosen = 0;
  for (std::size_t i = 0; i < priorities.size(); ++i) {
    if (i >= playing.size() || !playing[i]) priorities[i] = 0;
    if (priorities[i] < priorities[chosen]) chosen = i;
  }
  return chosen;
}

TSounds::TSounds(TDDSD& sound) : sound_(sound), priorities_(sound.ChannelCount, 0) {
  for (const char* name :
       {"gravitychange", "explosion1", "bound", "select", "cutwarn", "destroy0", "destroy1"}) {
    AddSound(name);
  }
}

TSounds::~TSounds() {
  // The last loaded wave goes first.
  for (auto it = load_order_.rbegin(); it != load_order_.rend(); ++it) waves_.erase(*it);
}

void TSounds::AddSound(const std::string& name) {
  auto wave = std::make_unique<TDDSDWaveData>(sound_, kArchive, name + ".wav", &budget_);
  if (waves_.emplace(name, std::move(wave)).second) load_order_.push_back(name);
}

void TSounds::Play(std::string_view name, std::int32_t priority) {
  if (!PlaySE) return;
  std::vector<bool> playing(priorities_.size(), false);
  for (std::size_t i = 0; i < priorities_.size(); ++i) {
    // Without a sound device there are no channels to ask.
    if (i >= sound_.Channels.size()) continue;
    TDDSDChannel* c = sound_.GetChannel(static_cast<std::int32_t>(i));
    playing[i] = c != nullptr && c->GetStatus() != 0;
  }
  const std::size_t chosen = ChooseChannel(priorities_, playing);
  const auto it = waves_.find(name);
  if (it == waves_.end() || chosen >= sound_.Channels.size()) return;
  TDDSDChannel* c = sound_.GetChannel(static_cast<std::int32_t>(chosen));
  if (c == nullptr) return;
  c->Stop();
  c->setWaveData(it->second.get());
  c->Play();
  priorities_[chosen] = priority;
}

}  // namespace zt::win
