// The optimiser: improves a quantised picture as it is perceived, in the
// manner of Direct Binary Search. Per TileLine it tries the pairs of the
// neighbouring lines (each pixel taking the nearer colour of the pair) and
// the pair that suits the line's own pixels best (with the pixels that
// carrying the error along the line gives it), flips pixels between the
// line's two colours and swaps neighbouring pixels; it keeps a change only
// when it lowers the perceived difference from the original: the S-CIELAB
// Delta E at 24 pixels per degree plus 0.7 x that at 48, so that the
// picture holds up from near and from afar. A change is judged first on
// estimates and kept only on the exact figures (quality/perceptual_field.h).
// Deterministic: the same bytes on every machine (quality/perceptual_field.h).
#pragma once

#include <cstdint>

#include "image/working_image.h"
#include "quantise/quantise.h"

namespace kovrel {

constexpr int kOptimiseSweeps = 3;  // the most sweeps over the picture

// Called after each tile row of a sweep with the share done, 0 ... 100;
// returning false stops the optimiser, which then leaves what it has so far
// (a picture and choices as consistent as at the start).
using OptimiseProgress = bool (*)(void* context, int percent);

// Improves choices (quantiseImage's layout) for original (the picture before
// quantising; width and height as image's) and writes the chosen colours
// into image's padded area; each TileLine keeps exactly two colours, with
// background < foreground. Returns the number of changes kept.
std::uint32_t optimiseLines(const Quantiser& q, const WorkingImage& original, WorkingImage& image,
                            LineChoice* choices, int sweeps = kOptimiseSweeps, OptimiseProgress progress = nullptr,
                            void* context = nullptr);

}  // namespace kovrel
