// Placeholder until this indicator is built: its column keeps the value 0.
#include "indicators/indicators.hpp"

double blur(const Image*) { return 0.0; }
double blurToMOS(double) { return 0.0; }
