// Compiled once per installer build with that build's addresses.
#include "download/package_urls.h"

const char kPackageUrl32[] = ZV_URL32;
const char kPackageUrl64[] = ZV_URL64;
