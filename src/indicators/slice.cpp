// Placeholder until this indicator is built: its column keeps the value 0.
#include "indicators/indicators.hpp"

double slice(const Image*) { return 0.0; }
int compare_Double_asc(const void*, const void*) { return 0; }
