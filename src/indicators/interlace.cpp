// Placeholder until this indicator is built: its column keeps the value 0.
#include "indicators/indicators.hpp"

double interlace(const Image*) { return 0.0; }
