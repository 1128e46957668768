// Where the package comes from and what it must be, fixed when the
// installer is built (cmake/installer.cmake writes the definitions).
#pragma once

extern const char kPackageUrl32[];
extern const char kPackageUrl64[];
extern const char kPackageUrlArm64[];
// Pin lists (MatchesPin): the SHA-256 of each package, at most one;
// empty: not pinned.
extern const char kPackageSha256_32[];
extern const char kPackageSha256_64[];
extern const char kPackageSha256_Arm64[];
// SHA-256 pins of signers' public keys; empty: any publisher Windows
// trusts.
extern const char kSignerPins[];
// false only in builds for makers who cannot sign yet.
extern const bool kRequireSignature;
// Packages signed before this FILETIME (UTC) are refused; 0: no floor.
extern const unsigned long long kSignedNotBefore;
