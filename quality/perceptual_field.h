// The perceived difference kept up to date while a picture changes a few
// pixels at a time: the objective of the optimiser. It is the measure of
// quality/perceptual.h (S-CIELAB, Delta E 1976 per pixel) between a fixed
// original and the changing picture, summed over the pixels, at one viewing
// distance.
//
// A change of some pixels alters the filtered picture only within the
// filter's reach of them (ppd / 2 pixels), so a trial recomputes that
// window alone, and only when two cheaper estimates say it may gain: to
// first order, from the slope of the total at each changed pixel (the
// error's gradient filtered back through the filter, worked out once per
// row), and then exactly next to the changes. The arithmetic is float in
// a fixed order, without fused multiply-add and without library
// transcendentals (the cube root is computed here), so that a trial's
// result, and so every decision taken on it, is the same bits on every
// machine.
#pragma once

#include <cstdint>
#include <vector>

namespace kovrel {

// A colour in linear light taken to the opponent planes (O1, O2, O3).
struct Opponent {
  float o[3];
};

// Linear light of an 8-bit sRGB value, rounded to whole 2^-24 steps so that
// it is the same on every machine.
float linearOfByteExact(int value);

// The opponent planes of an 8-bit sRGB colour.
Opponent opponentOfRgb(const std::uint8_t (&rgb)[3]);

// One changed pixel: where, and how much its opponent planes change.
struct PixelChange {
  int x;
  int y;
  Opponent delta;
};

class PerceptualField {
 public:
  // The field between original and current, each width x height pixels of
  // opponent values in rows, at samplesPerDegree (1 ... 256).
  PerceptualField(const std::vector<Opponent>& original, const std::vector<Opponent>& current, int width,
                  int height, double samplesPerDegree);

  // The total error (the sum of the pixels' Delta E).
  double total() const { return total_; }

  // The change of the total that changes would make (pixels of one row
  // within the picture, at least one), estimated: exactly near the changes,
  // and to first order (the gradients at the last refresh) in the rest of
  // the filter's reach, where the filtered values move little. Nothing is
  // kept until commitTrial.
  double estimate(const PixelChange* changes, int count);
  // estimate in two steps: the first-order change over the whole reach
  // (which readies the trial, as estimate does), then what the exact
  // values near the changes add to it. A trial may stop after the first.
  double firstOrder(const PixelChange* changes, int count);
  double correction();
  // The last trial's change of the total, exactly: the filtered values and
  // errors over its whole reach.
  double exact();
  // Makes the last trial's changes: the filtered values and errors in
  // their reach, and the total, exactly. The gradients there follow at the
  // next refresh.
  void commitTrial();
  // Brings the gradients up to date with the changes made since the last
  // refresh.
  void refresh();

  // Recomputes the filtered picture and the errors from current (filtering
  // rows, then columns, as the measure does), for checking the kept ones:
  // returns the largest difference of a kept filtered value from the
  // recomputed one, and the recomputed total.
  struct Check {
    float largestFilteredDifference;
    double total;
  };
  Check recompute(const std::vector<Opponent>& current) const;

 private:
  struct Component {
    float weight;
    std::vector<float> taps;  // 2r + 1, normalised to sum 1
  };
  // The filtered planes of a picture, each width x height.
  void filterAll(const std::vector<Opponent>& picture, std::vector<float> (&out)[3]) const;
  // weights[q - from] = the share pixel p has in filtered pixel q along one
  // axis of n pixels, for one component, edges reflected.
  // The last trial's filtered values for rows fromY ... toY, columns
  // fromX ... toX of its window.
  void filterWindow(int fromY, int toY, int fromX, int toX);
  void axisWeights(const Component& component, int p, int n, int from, int to, float* weights) const;
  // The slopes of the total along row y (slope_), from the gradients.
  void slopesFor(int y);
  // The last trial's weights (weightsX_, weightsY_) for rows fromY ... toY
  // and columns fromX ... toX of its window.
  void spread(int fromY, int toY, int fromX, int toX);

  int width_;
  int height_;
  int radius_;
  int coreRadius_;  // estimate: exact within this distance of a change
  std::vector<Component> components_[3];
  std::vector<float> originalLab_[3];
  std::vector<float> filtered_[3];
  std::vector<float> error_;
  std::vector<float> gradient_[3];  // d(error)/d(filtered value) per plane
  double total_ = 0;

  // The last trial's window and values.
  int x0_ = 0, y0_ = 0, x1_ = 0, y1_ = 0;
  int lowX_ = 0, highX_ = 0, changedY_ = 0;  // the changed pixels
  std::vector<float> trialFiltered_[3];
  std::vector<float> trialError_;
  int staleFrom_ = 0;  // the rows whose gradients lag their filtered values
  int staleTo_ = -1;
  std::vector<PixelChange> trial_;  // the last trial's changes
  bool trialExact_ = false;         // trialFiltered_ and trialError_ hold the whole window
  double exactChange_ = 0;
  std::vector<float> weightsX_, weightsY_;
  std::vector<float> slope_[3];  // d(total)/d(opponent value) along slopeRow_
  int slopeRow_ = -1;
  std::vector<float> scratch_;
};

}  // namespace kovrel
