#include "download/verify_package.h"

#include <wintrust.h>
#include <mssip.h>
#include <softpub.h>

#include "download/package_source.h"
#include "shell/state.h"
#include "shell/system_library.h"

namespace {

const DWORD kHashChunk = 64 * 1024;  // read through a fixed buffer: memory stays flat
// A signed cabinet's header: the fixed fields, the reserve sizes, and the
// 20-byte reserve that places the signature.
const DWORD kSignedHeaderSize = 60;

typedef LONG(WINAPI* WinVerifyTrustFn)(HWND, const GUID*, LPVOID);
typedef CRYPT_PROVIDER_DATA*(WINAPI* ProvDataFromStateDataFn)(HANDLE);
typedef BOOL(WINAPI* HashPublicKeyInfoFn)(HCRYPTPROV_LEGACY, ALG_ID, DWORD, DWORD,
                                          PCERT_PUBLIC_KEY_INFO, BYTE*, DWORD*);
typedef PCRYPT_ATTRIBUTE(WINAPI* FindAttributeFn)(LPCSTR, DWORD, CRYPT_ATTRIBUTE*);
typedef BOOL(WINAPI* DecodeObjectFn)(DWORD, LPCSTR, const BYTE*, DWORD, DWORD, void*, DWORD*);

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
// may have no route to the revocation servers). The content digest the
// signature states must be the one `content` holds; without `content`
// (the installer's own file) the result is never S_OK.
HRESULT VerifySignature(HCRYPTPROV provider, HANDLE file, const char* path, const char* signerPins,
                        ULONGLONG notBefore, const SignedContent* content) {
  HMODULE wintrust = LoadSystemLibrary("wintrust.dll");
  if (!wintrust)
    return LastErrorAsHresult();
  WinVerifyTrustFn verify = LookUpRoutine<WinVerifyTrustFn>(wintrust, "WinVerifyTrust");
  ProvDataFromStateDataFn providerData =
      LookUpRoutine<ProvDataFromStateDataFn>(wintrust, "WTHelperProvDataFromStateData");
  if (!verify || !providerData)
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
  // The signer judged, and the digest taken, are those of the signature
  // this very call verified, as its trust provider decoded it.
  if (result == S_OK) {
    CRYPT_PROVIDER_DATA* state = providerData(data.hWVTStateData);
    // The first signer, as WTHelperGetProvSignerFromChain would give it.
    CRYPT_PROVIDER_SGNR* signer = state->csSigners ? state->pasSigners : NULL;
    const SIP_INDIRECT_DATA* indirect = state->pPDSip->psIndirectData;
    if (signerPins[0] && !ChainHasPinnedKey(provider, signer, signerPins))
      result = TRUST_E_EXPLICIT_DISTRUST;
    else if (notBefore && !SignedSince(signer, notBefore))
      result = TRUST_E_TIME_STAMP;
    // A digest of another algorithm is another length, or not the SHA-256
    // the read computed.
    else if (!content || !content->found || !indirect || indirect->Digest.cbData != kSha256Size ||
             memcmp(indirect->Digest.pbData, content->digest, kSha256Size))
      result = TRUST_E_BAD_DIGEST;
  }
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  verify(noUser, &action, &data);
  return result;
}

}  // namespace

DWORD WINAPI WarmUpTrust(LPVOID) {
  char path[kPathCapacity];
  if (GetModuleFileNameA(NULL, path, kPathCapacity))
    VerifySignature(0, NULL, path, "", 0, NULL);
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
  const DWORD* fields = reinterpret_cast<const DWORD*>(header);
  DWORD read = 0;
  if (SetFilePointer(file, 0, NULL, FILE_BEGIN) != 0 ||
      !ReadFile(file, header, sizeof(header), &read, NULL) || read < 36 ||
      fields[0] != 0x4643534D ||  // "MSCF"
      // Neither a previous nor a next cabinet (flags 1 and 2): the other
      // files of a set were never checked.
      (header[30] & 3))
    return 0;
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

HRESULT ReadPackage(HCRYPTPROV provider, HANDLE file, const char* pins, SignedContent* content) {
  BYTE* buffer = static_cast<BYTE*>(LocalAlloc(LMEM_FIXED, kHashChunk));
  HCRYPTHASH covered = 0;  // what a signature covers
  HCRYPTHASH whole = 0;    // the file, for the pins
  const DWORD size = GetFileSize(file, NULL);
  DWORD toSignature = 0;  // from the chunk's start
  // Where the chunk's covered bytes start: in the first, after the header.
  DWORD from = kSignedHeaderSize - 4;
  DWORD read = 0;
  BYTE digest[kSha256Size];
  HRESULT result = S_OK;
  content->found = false;
  if (!buffer || SetFilePointer(file, 0, NULL, FILE_BEGIN) ||
      !CryptCreateHash(provider, CALG_SHA_256, 0, 0, &covered) ||
      (pins[0] && !CryptCreateHash(provider, CALG_SHA_256, 0, 0, &whole))) {
    result = LastErrorAsHresult();
  } else {
    // What could not be hashed of the covered bytes only makes a digest
    // that no signature states.
    do {
      // A close gives the run up: the package is let go of within a
      // chunk, not after the whole of a large one.
      if (*static_cast<volatile BYTE*>(&g_windowClosed)) {
        result = E_ABORT;
        break;
      }
      if (kCheckChunkDelay)
        Sleep(kCheckChunkDelay);
      if (!ReadFile(file, buffer, kHashChunk, &read, NULL) ||
          (whole && !CryptHashData(whole, buffer, read, 0))) {
        result = LastErrorAsHresult();
        break;
      }
      DWORD* fields = reinterpret_cast<DWORD*>(buffer);
      if (from && read >= kSignedHeaderSize) {
        // A reserve of exactly the signature's 20 bytes, none per folder
        // or data block (the sizes go unsigned: others would have the
        // decoder read the signed bytes otherwise), and the signature
        // after the cabinet's last byte, ending the file (starting within
        // it, so that the sum cannot wrap round).
        if (fields[9] == 20 && fields[11] >= fields[2] && fields[11] <= size &&
            fields[11] + fields[12] == size) {
          toSignature = fields[11];
          content->found = true;
        }
        // The header's covered fields as one span: "MSCF" over the
        // unsigned field after it.
        fields[1] = fields[0];
        CryptHashData(covered, buffer + 4, 30, 0);
      }
      const DWORD to = toSignature < read ? toSignature : read;
      if (from < to)
        CryptHashData(covered, buffer + from, to - from, 0);
      toSignature -= to;
      from = 0;
    } while (read);
    DWORD length = kSha256Size;
    content->found = content->found &&
                     CryptGetHashParam(covered, HP_HASHVAL, content->digest, &length, 0);
    if (result == S_OK && whole &&
        (!CryptGetHashParam(whole, HP_HASHVAL, digest, &length, 0) || !MatchesPin(digest, pins)))
      result = TRUST_E_BAD_DIGEST;
  }
  if (covered)
    CryptDestroyHash(covered);
  if (whole)
    CryptDestroyHash(whole);
  LocalFree(buffer);
  return result;
}

HRESULT CheckPackageTrust(HANDLE file, const char* path, const char* sha256Pin,
                          const char* signerPins, bool requireSignature, ULONGLONG notBefore) {
  if (!sha256Pin[0] && !requireSignature)
    return S_OK;
  HCRYPTPROV provider;
  if (!CryptAcquireContextA(&provider, NULL, NULL, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
    return LastErrorAsHresult();
  // Not the pinned package, whatever its signature; then the signature,
  // and the content it covers.
  SignedContent content;
  HRESULT result = ReadPackage(provider, file, sha256Pin, &content);
  if (result == S_OK && requireSignature)
    result = VerifySignature(provider, file, path, signerPins, notBefore, &content);
  CryptReleaseContext(provider, 0);
  return result;
}
