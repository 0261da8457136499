/* Version of the lumaqc library and its public header. */
#ifndef LUMAQC_VERSION_H
#define LUMAQC_VERSION_H

#define LUMAQC_VERSION_MAJOR 1
#define LUMAQC_VERSION_MINOR 4
#define LUMAQC_VERSION_PATCH 0
#define LUMAQC_VERSION_STRING "1.4.0"
/* One number that grows with every version: major * 10000 + minor * 100 + patch. */
#define LUMAQC_VERSION (LUMAQC_VERSION_MAJOR * 10000 + LUMAQC_VERSION_MINOR * 100 + LUMAQC_VERSION_PATCH)

#endif /* LUMAQC_VERSION_H */
