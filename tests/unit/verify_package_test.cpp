// The package checks that need no signed file: pin matching, the "MSCF"
// test, what the held package keeps out, and which bytes the content digest
// covers. Signatures, and the digest against osslsigncode's, are checked
// end to end against packages signed by the test PKI.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "cab_writer.h"
#include "download/verify_package.h"
#include "install/cabinet.h"

namespace {

// SHA-256 of "abc".
const BYTE kAbc[32] = {0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40,
                       0xde, 0x5d, 0xae, 0x22, 0x23, 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17,
                       0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};

// A pin list as the build writes it: the count, then the pins.
std::string PinList(std::initializer_list<std::string> pins) {
  std::string list(1, static_cast<char>(pins.size()));
  for (const std::string& pin : pins)
    list += pin;
  return list;
}

const std::string kAbcPin(reinterpret_cast<const char*>(kAbc), sizeof(kAbc));
const std::string kZeroPin(32, '\0');

TEST(MatchesPin, AnyEntryOfTheList) {
  EXPECT_TRUE(MatchesPin(kAbc, PinList({kAbcPin}).c_str()));
  EXPECT_TRUE(MatchesPin(kAbc, PinList({kZeroPin, kAbcPin}).c_str()));
  EXPECT_TRUE(MatchesPin(kAbc, PinList({kAbcPin, kZeroPin}).c_str()));
  EXPECT_TRUE(MatchesPin(kAbc, PinList({kZeroPin, kZeroPin, kAbcPin}).c_str()));
}

TEST(MatchesPin, NearMissesNeverMatch) {
  std::string lastByte = kAbcPin;
  lastByte[31] ^= 1;
  std::string firstByte = kAbcPin;
  firstByte[0] ^= 0x80;
  EXPECT_FALSE(MatchesPin(kAbc, ""));
  EXPECT_FALSE(MatchesPin(kAbc, PinList({}).c_str()));
  EXPECT_FALSE(MatchesPin(kAbc, PinList({kZeroPin}).c_str()));
  EXPECT_FALSE(MatchesPin(kAbc, PinList({lastByte, firstByte}).c_str()));
  // The count bounds the list: a pin beyond it is no pin.
  std::string counted = PinList({kZeroPin, kAbcPin});
  counted[0] = 1;
  EXPECT_FALSE(MatchesPin(kAbc, counted.c_str()));
}

class HeldPackage : public ::testing::Test {
 protected:
  std::string path() const { return scratch_ / "ZVinsF1"; }
  ScratchDirectory scratch_;
};

// A cabinet header's own length, extended by the signature its reserve
// area places after the cabinet, as osslsigncode and signtool write it.
std::string SignedHeader(DWORD cabinetLength, DWORD marker, DWORD offset, DWORD size) {
  std::string header = "MSCF";
  header.resize(52, '\0');
  DWORD* fields = reinterpret_cast<DWORD*>(&header[0]);
  fields[2] = cabinetLength;
  header[30] = 4;   // reserve present
  header[36] = 20;  // header reserve size
  fields[10] = marker;
  fields[11] = offset;
  fields[12] = size;
  return header;
}

TEST_F(HeldPackage, OnlyCabinetsPassTheFirstLookWithTheLengthTheyClaim) {
  const CabEntry setup = {"Setup.exe", "MZ", DosDate(2021, 6, 15), 0, 0x20};
  const std::string plain = BuildCabinet({setup});
  std::string continued = plain;
  continued[30] |= 1;  // follows a previous cabinet of its set
  const std::pair<std::string, DWORD> cases[] = {
      {plain, static_cast<DWORD>(plain.size())},
      {SignedHeader(1000, 0x00100000, 1000, 2344), 3344},
      {SignedHeader(1000, 0x00200000, 1000, 2344), 1000},  // a reserve, but no signature
      // Part of a set: FDI would open a neighbour nobody checked.
      {BuildCabinet({setup}, true, "next.cab"), 0},
      {continued, 0},
      {"<html>Not Found</html>", 0},
      {"MSCF", 0},
      {"", 0},
  };
  for (const auto& [bytes, length] : cases) {
    ASSERT_TRUE(WriteBytes(path(), bytes));
    HANDLE file = OpenPackage(path().c_str());
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_EQ(length, CabinetLength(file)) << bytes.substr(0, 8);
    CloseHandle(file);
  }
}

TEST_F(HeldPackage, KeepsWritersOutLetsTheDecoderReadAndGoesWithTheLastHandle) {
  ASSERT_TRUE(WriteBytes(path(), BuildCabinet({{"Setup.exe", "MZ", DosDate(2021, 6, 15), 0, 0x20}})));
  HANDLE held = OpenPackage(path().c_str());
  ASSERT_NE(INVALID_HANDLE_VALUE, held);

  HANDLE writer = CreateFileA(path().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE |
                              FILE_SHARE_DELETE, NULL, OPEN_EXISTING, 0, NULL);
  EXPECT_EQ(INVALID_HANDLE_VALUE, writer);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  EXPECT_FALSE(MoveFileExA(path().c_str(), (scratch_ / "moved").c_str(), 0));
  EXPECT_FALSE(DeleteFileA(path().c_str()));
  ASSERT_TRUE(WriteBytes(scratch_ / "other", "MSCF other"));
  EXPECT_FALSE(MoveFileExA((scratch_ / "other").c_str(), path().c_str(), MOVEFILE_REPLACE_EXISTING));

  g_extractCabinet = held;
  const INT_PTR reader = CabOpen(const_cast<char*>(""), 0, 0);
  EXPECT_NE(-1, reader);
  CloseHandle(held);
  // The package goes with its last handle, whoever closes it last.
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path().c_str()));
  if (reader != -1)
    CabClose(reader);
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path().c_str()));
}

TEST_F(HeldPackage, HashPinDecidesWhenNoSignatureIsRequired) {
  // Several read chunks long; the pin is its SHA-256.
  ASSERT_TRUE(WriteBytes(path(), "MSCF" + std::string(200000, '\0')));
  const std::string ours = PinList({std::string(
      "\xf4\x96\x6d\x65\xe3\x72\xa4\xfa\xe8\xb8\xfe\x2e\xd9\xd2\xfb\x9f"
      "\x48\xba\x59\x7b\xca\x1b\x6f\xd8\xd3\x7e\xe9\x1c\xbe\xa9\x38\x2e", 32)});
  const char* pin = ours.c_str();
  const std::string other = PinList({kAbcPin});
  HANDLE file = OpenPackage(path().c_str());
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  ASSERT_EQ(0u, CabinetLength(file));  // the hash must still cover the whole file
  EXPECT_EQ(S_OK, CheckPackageTrust(file, path().c_str(), "", "", false, 0));
  EXPECT_EQ(S_OK, CheckPackageTrust(file, path().c_str(), pin, "", false, 0));
  EXPECT_EQ(TRUST_E_BAD_DIGEST, CheckPackageTrust(file, path().c_str(), other.c_str(), "", false, 0));
  // With a signature required too, both are checked at once; a wrong
  // package is named so whatever its signature.
  EXPECT_EQ(TRUST_E_NOSIGNATURE, CheckPackageTrust(file, path().c_str(), pin, "", true, 0));
  EXPECT_EQ(TRUST_E_BAD_DIGEST, CheckPackageTrust(file, path().c_str(), other.c_str(), "", true, 0));
  CloseHandle(file);
}

// A cabinet's bytes as a signer leaves them: a header placing the
// signature at the cabinet's end, the cabinet (several read chunks long),
// then the signature.
const DWORD kCabinet = 200000;
const DWORD kSignature = 3000;

std::string SignedCabinet() {
  std::string bytes = SignedHeader(kCabinet, 0x00100000, kCabinet, kSignature);
  for (DWORD i = static_cast<DWORD>(bytes.size()); i < kCabinet + kSignature; ++i)
    bytes.push_back(static_cast<char>(i * 7 + (i >> 9)));
  return bytes;
}

class SignedContentTest : public HeldPackage {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CryptAcquireContextA(&provider_, NULL, NULL, PROV_RSA_AES, CRYPT_VERIFYCONTEXT));
  }
  void TearDown() override { CryptReleaseContext(provider_, 0); }
  // What ReadPackage makes of a file of `bytes`: the whole file is read,
  // whatever its header says.
  SignedContent Read(const std::string& bytes) {
    SignedContent content = {true, {}};
    EXPECT_TRUE(WriteBytes(path(), bytes));
    HANDLE file = CreateFileA(path().c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_EQ(S_OK, ReadPackage(provider_, file, "", &content));
    CloseHandle(file);
    return content;
  }
  HCRYPTPROV provider_ = 0;
};

std::string Changed(std::string bytes, DWORD at) {
  bytes[at] ^= 0x5A;
  return bytes;
}

TEST_F(SignedContentTest, CoversAllButTheUnsignedHeaderFieldsAndTheSignature) {
  const SignedContent signed_ = Read(SignedCabinet());
  ASSERT_TRUE(signed_.found);
  const std::string digest(reinterpret_cast<const char*>(signed_.digest), kSha256Size);
  // The first reserved field, the set's cabinet number, the signature's
  // reserve but for its last 4 bytes, and the signature.
  const DWORD unsignedBytes[] = {4, 7, 34, 35, 40, 52, 55, kCabinet, kCabinet + kSignature - 1};
  for (DWORD at : unsignedBytes) {
    const SignedContent content = Read(Changed(SignedCabinet(), at));
    EXPECT_TRUE(content.found) << at;
    EXPECT_EQ(digest, std::string(reinterpret_cast<const char*>(content.digest), kSha256Size)) << at;
  }
  // Everything else, up to the cabinet's last byte.
  const DWORD signedBytes[] = {0, 3, 12, 24, 33, 56, 59, 60, 65535, 65536, kCabinet - 1};
  for (DWORD at : signedBytes) {
    const SignedContent content = Read(Changed(SignedCabinet(), at));
    EXPECT_TRUE(content.found) << at;
    EXPECT_NE(digest, std::string(reinterpret_cast<const char*>(content.digest), kSha256Size)) << at;
  }
}

TEST_F(SignedContentTest, SignatureFieldsThatDoNotAddUpFindNone) {
  const std::string whole = SignedCabinet();
  const std::pair<const char*, std::string> cases[] = {
      {"offset past the end", SignedHeader(kCabinet, 0x00100000, kCabinet + kSignature + 1, 1) +
                                  whole.substr(52)},
      {"size past the end", SignedHeader(kCabinet, 0x00100000, kCabinet, kSignature + 1) +
                                whole.substr(52)},
      // The sum wraps round to the file's length.
      {"offset and size wrapping", SignedHeader(kCabinet, 0x00100000, 0xFFFFFF00,
                                                kCabinet + kSignature + 0x100) + whole.substr(52)},
      {"overlapping the cabinet", SignedHeader(kCabinet, 0x00100000, kCabinet - 8, kSignature + 8) +
                                      whole.substr(52)},
      {"bytes after the signature", whole + '\0'},
      {"another header reserve", Changed(whole, 36)},
      {"reserve per folder", Changed(whole, 38)},
      {"reserve per data block", Changed(whole, 39)},
      {"header cut short", whole.substr(0, 59)},
      {"no reserve", BuildCabinet({{"Setup.exe", "MZ", DosDate(2021, 6, 15), 0, 0x20}})},
  };
  ASSERT_TRUE(Read(whole).found);
  for (const auto& [label, bytes] : cases)
    EXPECT_FALSE(Read(bytes).found) << label;
}

}  // namespace
