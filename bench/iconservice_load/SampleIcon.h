// The ICO file a simulated desktop uploads for a program: one 48x48 32-bit bitmap image, as the
// program writes it, its pixels a gradient seeded by the program. The same bytes as the service
// tests' IconFactory::programIcon(seed), so the checker can rebuild every expected icon.
#pragma once

#include <string>

namespace load {

/** The ICO bytes for $seed (0 to 255). */
std::string sampleIcon(int seed);

}  // namespace load
