/* The reference image format's encoder, compiled once for the benchmarks. */
#define QOI_IMPLEMENTATION
#include <qoi.h>
