// The installer's build. A build system that lays out the product files of another build builds
// that layout's installer with its number, so that installer and files always belong together.
#include "app/product.h"

#ifndef MARBLELEAF_PRODUCT_BUILD
#define MARBLELEAF_PRODUCT_BUILD 2093
#endif

const int kProductBuild = MARBLELEAF_PRODUCT_BUILD;
