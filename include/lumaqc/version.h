/* Version of the lumaqc library and its public header. */
#ifndef LUMAQC_VERSION_H
#define LUMAQC_VERSION_H

#define LUMAQC_VERSION_MAJOR 1
#define LUMAQC_VERSION_MINOR 0
#define LUMAQC_VERSION_PATCH 0
#define LUMAQC_VERSION_STRING "1.0.0"

#endif /* LUMAQC_VERSION_H */
