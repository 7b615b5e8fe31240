#include "game/utext.h"

#include <utility>

#include "game/urandom.h"
#include "game/xsign.h"
#include "x87.h"

namespace zt {
namespace {

std::int32_t abs32(std::int32_t v) {
  return v < 0 ? -v : v;
}

bool text_expired(const TText& t) {
  switch (t.kind) {
    case kTextPercent:
      return t.age >= 150;
    case kTextJudge:
      return t.age >= 50;
    case kTextScore:
      return t.age >= 100;
    default:
      return false;
  }
}

}  // namespace

TAllTexts::TAllTexts() {
  texts_.reserve(50);
}

void TAllTexts::add_percent(std::uint8_t value, Point position) {
  TText t;
  t.x = position.x;
  t.y = position.y;
  t.kind = kTextPercent;
  t.value = value;
  add(std::move(t));
}

void TAllTexts::add_judge(std::uint8_t judge_class, Point position) {
  TText t;
  t.x = position.x;
  t.y = position.y;
  t.kind = kTextJudge;
  t.value = judge_class;
  add(std::move(t));
}

void TAllTexts::add_score(std::string text, Point position) {
  TText t;
  t.x = position.x;
  t.y = position.y;
  t.kind = kTextScore;
  t.text = std::move(text);
  add(std::move(t));
}

void TAllTexts::add(TText t) {
  texts_.push_back(std::move(t));
  sort(0, static_cast<std::int32_t>(texts_.size()) - 1);
}

void TAllTexts::sort(std::int32_t l, std::int32_t r) {
  std::int32_t i;
  do {
    i = l;
    std::int32_t j = r;
    const std::uint8_t pivot = texts_[static_cast<std::size_t>((l + r) / 2)].kind;
    do {
      while (texts_[static_cast<std::size_t>(i)].kind < pivot) ++i;
      while (texts_[static_cast<std::size_t>(j)].kind > pivot) --j;
      if (i <= j) {
        std::swap(texts_[static_cast<std::size_t>(i)], texts_[static_cast<std::size_t>(j)]);
        ++i;
        --j;
      }
    } while (i <= j);
    if (l < j) sort(l, j);
    l = i;
  } while (i < r);
}

void TAllTexts::step() {
  for (std::size_t n = texts_.size(); n-- > 0;) {
    TText& t = texts_[n];
    ++t.age;
    if (text_expired(t)) texts_.erase(texts_.begin() + static_cast<std::ptrdiff_t>(n));
  }
}

bool TFragment::step(double gravity) {
  ++counter;
  vy = (xd(vy) + xd(gravity)).to_f64();
  x = (xd(x) + xd(vx)).to_f64();
  y = (xd(y) + xd(vy)).to_f64();

  if (xd(x) < xi(0) || xd(x) > xi(kFieldWidth)) return true;
  const X87 g = xd(gravity);
  const bool below = xd(y) > xi(kFieldHeight);
  const bool above = xd(y) < xi(0);
  // A fragment falls back into the field from the side gravity pulls away from.
  if (g > xi(0)) return below;
  if (g < xi(0)) return above;
  if (g == xi(0)) return below || above;
  return false;
}

TFragments::TFragments() {
  fragments_.reserve(100);
}

void TFragments::burst(std::uint8_t kind, Point position, std::int32_t count, Point velocity,
                       std::uint32_t& random_state) {
  for (std::int32_t n = 0; n < count; ++n) {
    TFragment f;
    const std::int32_t dx = abs32(velocity.x) / 2 + 5;
    f.vx = (xi(velocity.x) + xi(dx) - xi(Random(random_state, dx * 1000)) / xf(500.0f)).to_f64();
    const std::int32_t dy = abs32(velocity.y) / 2 + 5;
    f.vy = (xi(velocity.y) + xi(dy) - xi(Random(random_state, dy * 1000)) / xf(500.0f)).to_f64();
    f.x = xi(position.x).to_f64();
    f.y = xi(position.y).to_f64();
    f.kind = kind;
    f.counter = Random(random_state, 5);
    fragments_.push_back(f);
  }
}

void TFragments::step(double gravity) {
  for (std::size_t n = fragments_.size(); n-- > 0;) {
    if (fragments_[n].step(gravity)) {
      fragments_.erase(fragments_.begin() + static_cast<std::ptrdiff_t>(n));
    }
  }
}

TGravityChanger TGravityChanger::create(bool from_right) {
  TGravityChanger c;
  c.y_ = 160;
  c.from_right_ = from_right;
  c.x_ = from_right ? 270 : -30;
  c.dx_ = from_right ? -1 : 1;
  c.phase_ = kApproach;
  c.counter_ = 0;
  return c;
}

TGravityChanger::StepResult TGravityChanger::step(double gravity) {
  ++counter_;
  bool gone = false;
  switch (phase_) {
    case kApproach:
      x_ += dx_;
      if (abs32(x_ - 120) < 10) {
        phase_ = kWait;
        counter_ = 0;
      }
      break;
    case kWait:
      if (counter_ > 30) {
        phase_ = kLeave;
        counter_ = 0;
        gravity = x87_neg(xd(gravity)).to_f64();
      }
      break;
    default:
      x_ -= dx_;
      gone = x_ < -60 || x_ > 300;
      break;
  }
  return {gravity, gone};
}

}  // namespace zt
