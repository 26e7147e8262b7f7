#pragma once

#include <array>
#include <vector>

namespace plenoview {

// Blending weights of the lens types 0, 1, 2, each a table indexed by patch
// size 0 .. entries - 1. With a and b the smallest and largest candidate sizes
// and sigma = (b - a) / 4, type k owns the Gaussian bell centred at
// a + k (b - a) / 2:
//
//   g_k[l] = exp((l - mean_k)^2 / (-2 sigma^2)) x 1 / (sqrt(6.2831853) sigma)
//
// and the tables hold g_k[l] / (g_1[l] + g_0[l] + g_2[l]), so the three
// weights of a size sum to one. Needs a < b.
using LensTypeWeights = std::array<std::vector<double>, 3>;
LensTypeWeights lensTypeWeights(int first, int last, int entries);

}  // namespace plenoview
