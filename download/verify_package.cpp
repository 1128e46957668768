#include "download/verify_package.h"

#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

#include "shell/state.h"
#include "shell/system_library.h"

namespace {

const DWORD kSha256Size = 32;
const DWORD kHashChunk = 64 * 1024;  // read through a fixed buffer: memory stays flat

typedef LONG(WINAPI* WinVerifyTrustFn)(HWND, const GUID*, LPVOID);
typedef CRYPT_PROVIDER_DATA*(WINAPI* ProvDataFromStateDataFn)(HANDLE);
typedef CRYPT_PROVIDER_SGNR*(WINAPI* ProvSignerFromChainFn)(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD);
typedef BOOL(WINAPI* HashPublicKeyInfoFn)(HCRYPTPROV_LEGACY, ALG_ID, DWORD, DWORD,
                                          PCERT_PUBLIC_KEY_INFO, BYTE*, DWORD*);
typedef PCRYPT_ATTRIBUTE(WINAPI* FindAttributeFn)(LPCSTR, DWORD, CRYPT_ATTRIBUTE*);
typedef BOOL(WINAPI* DecodeObjectFn)(DWORD, LPCSTR, const BYTE*, DWORD, DWORD, void*, DWORD*);

// SHA-256 of the whole file, read from its start through the held handle.
HRESULT HashFile(HCRYPTPROV provider, HANDLE file, BYTE* digest) {
  BYTE* buffer = static_cast<BYTE*>(LocalAlloc(LMEM_FIXED, kHashChunk));
  if (!buffer)
    return E_OUTOFMEMORY;
  HCRYPTHASH hash = 0;
  HRESULT result = S_OK;
  if (SetFilePointer(file, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) {
    result = LastErrorAsHresult();
  } else {
    DWORD read = 0;
    do {
      if (!ReadFile(file, buffer, kHashChunk, &read, NULL) || !CryptHashData(hash, buffer, read, 0))
        result = LastErrorAsHresult();
    } while (result == S_OK && read);
    DWORD size = kSha256Size;
    if (result == S_OK && !CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0))
      result = LastErrorAsHresult();
  }
  if (hash)
    CryptDestroyHash(hash);
  LocalFree(buffer);
  return result;
}

// true when a certificate of the signer's verified chain (leaf,
// intermediates, root) has a public key in `signerPins`.
bool ChainHasPinnedKey(HCRYPTPROV provider, CRYPT_PROVIDER_SGNR* signer, const char* signerPins) {
  HMODULE crypt32 = LoadSystemLibrary("crypt32.dll");
  HashPublicKeyInfoFn hashKey =
      crypt32 ? LookUpRoutine<HashPublicKeyInfoFn>(crypt32, "CryptHashPublicKeyInfo") : NULL;
  if (!hashKey || !signer)
    return false;
  for (DWORD i = 0; i < signer->csCertChain; ++i) {
    PCCERT_CONTEXT certificate = signer->pasCertChain[i].pCert;
    BYTE digest[kSha256Size];
    DWORD size = kSha256Size;
    if (certificate &&
        hashKey(provider, CALG_SHA_256, 0, X509_ASN_ENCODING,
                &certificate->pCertInfo->SubjectPublicKeyInfo, digest, &size) &&
        size == kSha256Size && MatchesPin(digest, signerPins))
      return true;
  }
  return false;
}

ULONGLONG FileTimeValue(const FILETIME& time) {
  return static_cast<ULONGLONG>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

// true when the signer states that it signed at `notBefore` or later, in
// the signing-time attribute its signature covers, and no time stamp the
// platform verified shows the signature older. A later time stamp proves
// nothing: anyone can have an old signature stamped today.
bool SignedSince(const CRYPT_PROVIDER_SGNR* signer, ULONGLONG notBefore) {
  HMODULE crypt32 = LoadSystemLibrary("crypt32.dll");
  FindAttributeFn find =
      crypt32 ? LookUpRoutine<FindAttributeFn>(crypt32, "CertFindAttribute") : NULL;
  DecodeObjectFn decode =
      crypt32 ? LookUpRoutine<DecodeObjectFn>(crypt32, "CryptDecodeObject") : NULL;
  if (!find || !decode || !signer || !signer->psSigner ||
      (signer->csCounterSigners && FileTimeValue(signer->sftVerifyAsOf) < notBefore))
    return false;
  const CRYPT_ATTRIBUTES& attributes = signer->psSigner->AuthAttrs;
  const CRYPT_ATTRIBUTE* stated = find(szOID_RSA_signingTime, attributes.cAttr, attributes.rgAttr);
  FILETIME signedAt;
  DWORD size = sizeof(signedAt);
  // No stated time is no time at or after the floor.
  return stated && stated->cValue &&
         decode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, X509_CHOICE_OF_TIME,
                stated->rgValue[0].pbData, stated->rgValue[0].cbData, 0, &signedAt, &size) &&
         FileTimeValue(signedAt) >= notBefore;
}

// Authenticode, by the platform: no UI, no revocation check (a first run
// may have no route to the revocation servers).
HRESULT VerifySignature(HCRYPTPROV provider, HANDLE file, const char* path, const char* signerPins,
                        ULONGLONG notBefore) {
  HMODULE wintrust = LoadSystemLibrary("wintrust.dll");
  if (!wintrust)
    return LastErrorAsHresult();
  WinVerifyTrustFn verify = LookUpRoutine<WinVerifyTrustFn>(wintrust, "WinVerifyTrust");
  ProvDataFromStateDataFn providerData =
      LookUpRoutine<ProvDataFromStateDataFn>(wintrust, "WTHelperProvDataFromStateData");
  ProvSignerFromChainFn signerOf =
      LookUpRoutine<ProvSignerFromChainFn>(wintrust, "WTHelperGetProvSignerFromChain");
  if (!verify || !providerData || !signerOf)
    return LastErrorAsHresult();

  WCHAR widePath[kPathCapacity];
  if (!MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, kPathCapacity))
    return LastErrorAsHresult();
  WINTRUST_FILE_INFO fileInfo = {};
  fileInfo.cbStruct = sizeof(fileInfo);
  fileInfo.pcwszFilePath = widePath;
  fileInfo.hFile = file;
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &fileInfo;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_REVOCATION_CHECK_NONE;
  // Constant: a variable's initialiser would be the image's only
  // initialised data, a 512-byte block of its own.
  static const GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  HWND noUser = static_cast<HWND>(INVALID_HANDLE_VALUE);
  HRESULT result = static_cast<HRESULT>(verify(noUser, &action, &data));
  // The signer judged is the one this very call verified.
  if (result == S_OK) {
    CRYPT_PROVIDER_SGNR* signer = signerOf(providerData(data.hWVTStateData), 0, FALSE, 0);
    if (signerPins[0] && !ChainHasPinnedKey(provider, signer, signerPins))
      result = TRUST_E_EXPLICIT_DISTRUST;
    else if (notBefore && !SignedSince(signer, notBefore))
      result = TRUST_E_TIME_STAMP;
  }
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  verify(noUser, &action, &data);
  return result;
}

// A package's SHA-256 and its pin, for a thread of their own (a provider
// serves several threads; each hash is its own).
struct HashCheck {
  HCRYPTPROV provider;
  HANDLE file;
  const char* pin;
  HRESULT result;
};

DWORD WINAPI CheckHash(LPVOID parameter) {
  HashCheck* check = static_cast<HashCheck*>(parameter);
  BYTE digest[kSha256Size];
  HRESULT result = HashFile(check->provider, check->file, digest);
  if (result == S_OK && !MatchesPin(digest, check->pin))
    result = TRUST_E_BAD_DIGEST;
  check->result = result;
  return 0;
}

}  // namespace

DWORD WINAPI WarmUpTrust(LPVOID) {
  char path[kPathCapacity];
  if (GetModuleFileNameA(NULL, path, kPathCapacity))
    VerifySignature(0, NULL, path, "", 0);
  return 0;
}

HANDLE OpenPackage(const char* path) {
  return CreateFileA(path, GENERIC_READ | DELETE, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                     FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
}

DWORD CabinetLength(HANDLE file) {
  // The fixed header, its reserve sizes and the first 12 bytes of the
  // reserve, where an Authenticode signature is placed.
  BYTE header[52];
  DWORD read = 0;
  if (SetFilePointer(file, 0, NULL, FILE_BEGIN) != 0 ||
      !ReadFile(file, header, sizeof(header), &read, NULL) || read < 36 || header[0] != 'M' ||
      header[1] != 'S' || header[2] != 'C' || header[3] != 'F' ||
      // Neither a previous nor a next cabinet (flags 1 and 2): the other
      // files of a set were never checked.
      (header[30] & 3))
    return 0;
  const DWORD* fields = reinterpret_cast<const DWORD*>(header);
  DWORD length = fields[2];  // cbCabinet
  // A reserve (flag 4) of at least 12 bytes starting 0x00100000 holds the
  // signature's offset and size.
  if ((header[30] & 4) && read == sizeof(header) && header[36] >= 12 && fields[10] == 0x00100000 &&
      fields[11] + fields[12] > length)
    length = fields[11] + fields[12];
  return length;
}

bool MatchesPin(const BYTE* digest, const char* pins) {
  for (BYTE count = pins[0]; count; --count)
    if (!memcmp(digest, pins + 1 + (count - 1) * kSha256Size, kSha256Size))
      return true;
  return false;
}

HRESULT CheckPackageTrust(HANDLE file, const char* path, const char* sha256Pin,
                          const char* signerPins, bool requireSignature, ULONGLONG notBefore) {
  if (!sha256Pin[0] && !requireSignature)
    return S_OK;
  HashCheck hash = {0, file, sha256Pin, S_OK};
  if (!CryptAcquireContextA(&hash.provider, NULL, NULL, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
    return LastErrorAsHresult();
  HANDLE hasher = NULL;
  if (sha256Pin[0] && !requireSignature) {
    CheckHash(&hash);
  } else if (sha256Pin[0]) {
    // Beside the signature check: each reads through a handle of its own
    // (of the same file: nobody can replace it while it is held), the hash
    // on a second thread. A handle that could not be had fails the hash.
    hash.file = ReOpenFile(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                           FILE_FLAG_SEQUENTIAL_SCAN);
    if (hash.file != INVALID_HANDLE_VALUE)
      hasher = CreateThread(NULL, 0, CheckHash, &hash, 0, NULL);
    if (!hasher)
      hash.result = LastErrorAsHresult();
  }
  const HRESULT signature =
      requireSignature ? VerifySignature(hash.provider, file, path, signerPins, notBefore) : S_OK;
  if (hasher) {
    WaitForSingleObject(hasher, INFINITE);
    CloseHandle(hasher);
  }
  if (hash.file != file)
    CloseHandle(hash.file);
  CryptReleaseContext(hash.provider, 0);
  // Not the pinned package, whatever its signature.
  return hash.result != S_OK ? hash.result : signature;
}
