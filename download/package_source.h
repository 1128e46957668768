// Where the package comes from and what it must be, fixed when the
// installer is built (cmake/installer.cmake writes the definitions).
#pragma once

// Each package's address, then past its NUL its pin list (MatchesPin):
// its SHA-256, at most one; empty: not pinned.
extern const char kPackage32[];
extern const char kPackage64[];
extern const char kPackageArm64[];
// SHA-256 pins of signers' public keys; empty: any publisher Windows
// trusts.
extern const char kSignerPins[];
// false only in builds for makers who cannot sign yet.
extern const bool kRequireSignature;
// Packages signed before this FILETIME (UTC) are refused; 0: no floor.
extern const unsigned long long kSignedNotBefore;
// Milliseconds without a byte after which a download is given up.
extern const unsigned long kStallTimeout;
// Milliseconds of pause before each chunk of the package's check: 0 but
// in test builds, whose check must last long enough to be closed in.
extern const unsigned long kCheckChunkDelay;
