// Trust in the downloaded package, settled before anything of it is
// unpacked or run with the installer's administrator rights.
#pragma once
#include <windows.h>
#include <wincrypt.h>

const DWORD kSha256Size = 32;

// The first signature check of a process starts the trust providers and
// opens the certificate stores (most of a second under Wine, whatever the
// file): a thread that makes a throw-away check of the installer's own file
// while the package downloads, so that the real check finds them started.
// It decides nothing; the process ends whatever it is doing.
DWORD WINAPI WarmUpTrust(LPVOID);
// Opens `path` for reading with read sharing only: while the handle is
// open nobody can write, replace, rename or delete the file. Closing the
// last handle deletes it, so that no ending leaves the package behind, not
// even the process being ended in the middle.
HANDLE OpenPackage(const char* path);
// How long the file must be for the cabinet whose header `file` begins
// with: the cabinet's own length, or the end of the Authenticode signature
// its header places beyond it. 0 when `file` does not begin with a cabinet
// header, or with one that names another cabinet: one of a set spanning
// several files is no package.
DWORD CabinetLength(HANDLE file);
// What a cabinet's Authenticode signature covers, as read.
struct SignedContent {
  // The header places the signature in a reserve of exactly its 20 bytes,
  // after the whole cabinet, ending the file; and `digest` could be had.
  bool found;
  BYTE digest[kSha256Size];  // the SHA-256 of the covered bytes
};
// Reads the package in `file` once, from its start: S_OK when its SHA-256
// is in `pins` (none: any), TRUST_E_BAD_DIGEST when not, or why it could
// not be read; and `content`, the SHA-256 of the bytes an Authenticode
// signature covers in a cabinet, as osslsigncode computes it: the header
// but for its first reserved field (4-7), the set's cabinet number, the
// reserve sizes and all but the last 4 bytes of the reserve (34-55), then
// everything up to the signature. Nothing is read but through `file`, up
// to its end, whatever the header says.
HRESULT ReadPackage(HCRYPTPROV provider, HANDLE file, const char* pins, SignedContent* content);
// S_OK when the package held in `file` (found at `path`) may run: its
// SHA-256 is in `sha256Pin` unless that is empty, and, when
// `requireSignature`, it has a valid Authenticode signature whose verified
// chain holds a key in `signerPins` unless that is empty, made (as its
// signer states) no earlier than the FILETIME `notBefore` unless that is 0,
// and stating the content digest that the same read of the file computed
// (ReadPackage), whatever the platform's trust provider checked. Otherwise
// the reason, first failing first: TRUST_E_BAD_DIGEST (not a pinned
// package), a system error as an HRESULT, WinVerifyTrust's own result,
// TRUST_E_EXPLICIT_DISTRUST, TRUST_E_TIME_STAMP, or TRUST_E_BAD_DIGEST
// (content not as signed, a digest other than SHA-256, or a header whose
// signature fields do not add up).
HRESULT CheckPackageTrust(HANDLE file, const char* path, const char* sha256Pin,
                          const char* signerPins, bool requireSignature, ULONGLONG notBefore);
// true when the 32-byte `digest` is one of `pins`: a pin list as the build
// writes it, the number of pins in its first byte, then each pin's 32 bytes.
// A list whose first byte is 0 (an empty string) pins nothing.
bool MatchesPin(const BYTE* digest, const char* pins);
