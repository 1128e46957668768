// The two package addresses, fixed when the installer is built.
#pragma once

extern const char kPackageUrl32[];
extern const char kPackageUrl64[];
