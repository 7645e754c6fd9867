// The installer's build. A build system that lays out the product files of another build builds
// that layout's installer with its number, so that installer and files always belong together.
#include "app/product.h"

#ifdef MARBLELEAF_PRODUCT_BUILD
const int kProductBuild = MARBLELEAF_PRODUCT_BUILD;
#else
const int kProductBuild = 2093;
#endif
