// The quantiser of the default settings, for tests of single stages.
#pragma once

#include "colour/colour.h"
#include "quantise/quantise.h"

namespace kovrel {

inline const Quantiser& defaultQuantiser() {
  static const Quantiser q = makeQuantiser(kMamePalette, kFullStrength);
  return q;
}

}  // namespace kovrel
