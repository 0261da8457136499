// Placeholder until this indicator is built: its column keeps the value 0.
#include "indicators/indicators.hpp"

double blockiness(const Image*) { return 0.0; }
double blockToMOS(double) { return 0.0; }
