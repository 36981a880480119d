// The accumulation/distribution line shared by AD and ADOSC: a running total over the whole
// series, kept with a compensation term (Neumaier's) so that a million bars add no more rounding
// than a few.
#pragma once

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
