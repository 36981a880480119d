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
    return push_term(total_, compensation_, high, low, close, volume);
  }

  // push(high[i], low[i], close[i], volume[i]) for i = 0 .. count - 1, the line after each in
  // lines[i]. A block of bars at a time: the bar terms and the additions' errors in vectors, and
  // one loop carrying both 4-cycle chains, the totals of this block beside the compensation of the
  // previous one (whose errors are known by then), so the two overlap.
  void push_run(const double* high, const double* low, const double* close, const double* volume, size_t count,
                double* lines) {
    double total = total_, compensation = compensation_;
    size_t i = 0;
#if defined(VELK_CLASSIC_LANES)
    constexpr size_t kBlock = 32;
    struct Block {
      double terms[kBlock];
      double totals[kBlock + 1];  // totals[0]: the total before the block
      double compensations[kBlock];
    } blocks[2];
    Block* pending = nullptr;  // a block whose compensation and lines are still to come
    const auto finish = [&](const Block& b, size_t at) {
      for (size_t j = 0; j < kBlock; j += lane_count) {
        store_as(lines + at + j, load_as<Lanes>(b.totals + j + 1) + load_as<Lanes>(b.compensations + j));
      }
    };
    for (; i + kBlock <= count; i += kBlock) {
      Block& b = blocks[(i / kBlock) & 1];
      b.totals[0] = total;
      // The previous block's errors become its compensations in place; none for the first block.
      double* const compensations = pending != nullptr ? pending->compensations : b.compensations;
      for (size_t j = 0; j < kBlock; j += lane_count) {
        const size_t t = i + j;
        const Lanes h = load_as<Lanes>(high + t), l = load_as<Lanes>(low + t), c = load_as<Lanes>(close + t);
        const Lanes range = h - l, none{};
        const Lanes terms = range > none ? ((c - l) - (h - c)) / range * load_as<Lanes>(volume + t) : none;
        store_as(b.terms + j, terms);
        for (size_t k = 0; k < lane_count; ++k) {
          total += terms[k];
          b.totals[j + k + 1] = total;
          if (pending != nullptr) {
            compensation += compensations[j + k];
            compensations[j + k] = compensation;
          }
        }
      }
      if (pending != nullptr) finish(*pending, i - kBlock);
      // Each addition's error, two-sum as in add(), into compensations (summed with the next block).
      for (size_t j = 0; j < kBlock; j += lane_count) {
        const Lanes before = load_as<Lanes>(b.totals + j), sum = load_as<Lanes>(b.totals + j + 1);
        const Lanes value = load_as<Lanes>(b.terms + j), value_part = sum - before;
        store_as(b.compensations + j, (before - (sum - value_part)) + (value - value_part));
      }
      pending = &b;
    }
    if (pending != nullptr) {
      double* const compensations = pending->compensations;
      for (size_t j = 0; j < kBlock; ++j) {
        compensation += compensations[j];
        compensations[j] = compensation;
      }
      finish(*pending, i - kBlock);
    }
#endif
    for (; i < count; ++i) lines[i] = push_term(total, compensation, high[i], low[i], close[i], volume[i]);
    total_ = total;
    compensation_ = compensation;
  }

  template <class Archive>
  void fields(Archive& a) {
    a(total_);
    a(compensation_);
  }

 private:
  static double push_term(double& total, double& compensation, double high, double low, double close,
                          double volume) {
    const double range = high - low;
    add(total, compensation, range > 0.0 ? ((close - low) - (high - close)) / range * volume : 0.0);
    return total + compensation;
  }
  // total += value, its rounding error (exact, by Knuth's branch-free two-sum: the error
  // Neumaier's test of magnitudes picks, without a branch that mispredicts as the total crosses
  // the size of the terms) into the compensation. A bar without range adds +0, which leaves both
  // as they are: neither is ever -0.
  static void add(double& total, double& compensation, double value) {
    const double sum = total + value;
    const double value_part = sum - total;
    compensation += (total - (sum - value_part)) + (value - value_part);
    total = sum;
  }

  double total_ = 0.0;
  double compensation_ = 0.0;  // what the rounded total has lost
};

}  // namespace velk::classic
