// The accumulation/distribution line shared by AD and ADOSC: a running total over the whole
// series, kept with a compensation term (Neumaier's) so that a million bars add no more rounding
// than a few.
#pragma once

#include <cmath>
#include <cstring>

#include "classic_engine/indicator.hpp"

namespace velk::classic {

class AccumulationLine {
 public:
  // Adds the bar's money flow volume; returns the line's value.
  double push(double high, double low, double close, double volume) {
    const double range = high - low;
    if (range > 0.0) add(((close - low) - (high - close)) / range * volume);
    return total_ + compensation_;
  }

  // push(high[i], low[i], close[i], volume[i]) for i = 0 .. count - 1, the line after each in
  // lines[i], with the total in locals and the bar terms two bars at a time.
  void push_run(const double* high, const double* low, const double* close, const double* volume, size_t count,
                double* lines) {
    double total = total_, compensation = compensation_;
    const auto add = [&](bool moved, double value) {
      if (!moved) return total + compensation;  // a bar without range adds nothing
      const double sum = total + value;
      if (std::fabs(total) >= std::fabs(value)) {
        compensation += (total - sum) + value;
      } else {
        compensation += (value - sum) + total;
      }
      total = sum;
      return total + compensation;
    };
    size_t i = 0;
#if defined(VELK_CLASSIC_LANES)
    for (; i + lane_count <= count; i += lane_count) {
      const Lanes h = load_as<Lanes>(high + i), l = load_as<Lanes>(low + i), c = load_as<Lanes>(close + i);
      const Lanes range = h - l;
      const Lanes term = ((c - l) - (h - c)) / range * load_as<Lanes>(volume + i);
      lines[i] = add(range[0] > 0.0, term[0]);
      lines[i + 1] = add(range[1] > 0.0, term[1]);
    }
#endif
    for (; i < count; ++i) {
      const double range = high[i] - low[i];
      lines[i] = add(range > 0.0, ((close[i] - low[i]) - (high[i] - close[i])) / range * volume[i]);
    }
    total_ = total;
    compensation_ = compensation;
  }

  template <class Archive>
  void fields(Archive& a) {
    a(total_);
    a(compensation_);
  }

 private:
  void add(double value) {
    const double sum = total_ + value;
    if (std::fabs(total_) >= std::fabs(value)) {
      compensation_ += (total_ - sum) + value;
    } else {
      compensation_ += (value - sum) + total_;
    }
    total_ = sum;
  }

  double total_ = 0.0;
  double compensation_ = 0.0;  // what the rounded total has lost
};

}  // namespace velk::classic
