#include <gtest/gtest.h>

#include <cstring>

#include "crash/delivery/cipher.h"

using namespace rvx;

namespace {
std::string Bytes(uint64_t v) {
  std::string s(8, '\0');
  for (int i = 0; i < 8; ++i) s[i] = static_cast<char>(v >> (56 - 8 * i));
  return s;
}
std::string FromHex(std::string_view h) {
  std::string s;
  for (size_t i = 0; i + 1 < h.size(); i += 2) s += static_cast<char>(std::stoi(std::string(h.substr(i, 2)), nullptr, 16));
  return s;
}
uint64_t Encrypt(const std::string& key, uint64_t clear) {
  Blowfish bf(key);
  uint32_t l = static_cast<uint32_t>(clear >> 32), r = static_cast<uint32_t>(clear);
  bf.Encrypt(l, r);
  uint64_t c = uint64_t{l} << 32 | r;
  bf.Decrypt(l, r);
  EXPECT_EQ(uint64_t{l} << 32 | r, clear);
  return c;
}
}  // namespace

// The cipher author's published vectors: 64-bit keys with chosen plaintexts.
TEST(Blowfish, PublishedVariableKeyVectors) {
  struct V { uint64_t key, clear, cipher; };
  static const V vectors[] = {
      {0x0000000000000000, 0x0000000000000000, 0x4EF997456198DD78},
      {0xFFFFFFFFFFFFFFFF, 0xFFFFFFFFFFFFFFFF, 0x51866FD5B85ECB8A},
      {0x3000000000000000, 0x1000000000000001, 0x7D856F9A613063F2},
      {0x1111111111111111, 0x1111111111111111, 0x2466DD878B963C9D},
      {0x0123456789ABCDEF, 0x1111111111111111, 0x61F9C3802281B096},
      {0x1111111111111111, 0x0123456789ABCDEF, 0x7D0CC630AFDA1EC7},
      {0xFEDCBA9876543210, 0x0123456789ABCDEF, 0x0ACEAB0FC6A0A28D},
      {0x7CA110454A1A6E57, 0x01A1D6D039776742, 0x59C68245EB05282B},
      {0x0131D9619DC1376E, 0x5CD54CA83DEF57DA, 0xB1B8CC0B250F09A0},
      {0x07A1133E4A0B2686, 0x0248D43806F67172, 0x1730E5778BEA1DA4},
      {0x3849674C2602319E, 0x51454B582DDF440A, 0xA25E7856CF2651EB},
      {0x04B915BA43FEB5B6, 0x42FD443059577FA2, 0x353882B109CE8F1A},
      {0x0113B970FD34F2CE, 0x059B5E0851CF143A, 0x48F4D0884C379918},
      {0x0170F175468FB5E6, 0x0756D8E0774761D2, 0x432193B78951FC98},
      {0x43297FAD38E373FE, 0x762514B829BF486A, 0x13F04154D69D1AE5},
      {0x07A7137045DA2A16, 0x3BDD119049372802, 0x2EEDDA93FFD39C79},
      {0x04689104C2FD3B2F, 0x26955F6835AF609A, 0xD887E0393C2DA6E3},
      {0x37D06BB516CB7546, 0x164D5E404F275232, 0x5F99D04F5B163969},
      {0x1F08260D1AC2465E, 0x6B056E18759F5CCA, 0x4A057A3B24D3977B},
      {0x584023641ABA6176, 0x004BD6EF09176062, 0x452031C1E4FADA8E},
      {0x025816164629B007, 0x480D39006EE762F2, 0x7555AE39F59B87BD},
      {0x49793EBC79B3258F, 0x437540C8698F3CFA, 0x53C55F9CB49FC019},
      {0x4FB05E1515AB73A7, 0x072D43A077075292, 0x7A8E7BFA937E89A3},
      {0x49E95D6D4CA229BF, 0x02FE55778117F12A, 0xCF9C5D7A4986ADB5},
      {0x018310DC409B26D6, 0x1D9D5C5018F728C2, 0xD1ABB290658BC778},
      {0x1C587F1C13924FEF, 0x305532286D6F295A, 0x55CB3774D13EF201},
      {0x0101010101010101, 0x0123456789ABCDEF, 0xFA34EC4847B268B2},
      {0x1F1F1F1F0E0E0E0E, 0x0123456789ABCDEF, 0xA790795108EA3CAE},
      {0xE0FEE0FEF1FEF1FE, 0x0123456789ABCDEF, 0xC39E072D9FAC631D},
      {0x0000000000000000, 0xFFFFFFFFFFFFFFFF, 0x014933E0CDAFF6E4},
      {0xFFFFFFFFFFFFFFFF, 0x0000000000000000, 0xF21E9A77B71C49BC},
      {0x0123456789ABCDEF, 0x0000000000000000, 0x245946885754369A},
      {0xFEDCBA9876543210, 0xFFFFFFFFFFFFFFFF, 0x6B5C5A9C5D9E0A5A},
  };
  for (const auto& v : vectors)
    EXPECT_EQ(Encrypt(Bytes(v.key), v.clear), v.cipher) << std::hex << "key " << v.key;
}

// The same author's key-length vectors: prefixes of one 24-byte key, fixed plaintext.
TEST(Blowfish, PublishedKeyLengthVectors) {
  const std::string key = FromHex("F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677");
  static const uint64_t cipher[24] = {
      0xF9AD597C49DB005E, 0xE91D21C1D961A6D6, 0xE9C2B70A1BC65CF3, 0xBE1E639408640F05, 0xB39E44481BDB1E6E,
      0x9457AA83B1928C0D, 0x8BB77032F960629D, 0xE87A244E2CC85E82, 0x15750E7A4F4EC577, 0x122BA70B3AB64AE0,
      0x3A833C9AFFC537F6, 0x9409DA87A90F6BF2, 0x884F80625060B8B4, 0x1F85031C19E11968, 0x79D9373A714CA34F,
      0x93142887EE3BE15C, 0x03429E838CE2D14B, 0xA4299E27469FF67B, 0xAFD5AED1C1BC96A8, 0x10851C0E3858DA9F,
      0xE6F51ED79B9DB21F, 0x64A6E14AFD36B46F, 0x80C7D7D45A5479AD, 0x05044B62FA52D080};
  for (size_t n = 1; n <= 24; ++n)
    EXPECT_EQ(Encrypt(key.substr(0, n), 0xFEDCBA9876543210), cipher[n - 1]) << "key length " << n;
}

TEST(Blowfish, BlockModeUsesLittleEndianHalvesAndKeepsRemainder) {
  std::string data = std::string("\x67\x45\x23\x01\xEF\xCD\xAB\x89", 8) + "xyz";
  std::string copy = data;
  BlockCipher(data.data(), data.size(), CipherDirection::Encrypt, Bytes(0xFEDCBA9876543210));
  // the halves 0x01234567, 0x89ABCDEF read little-endian give the published result, stored little-endian
  EXPECT_EQ(data.substr(0, 8), std::string("\x0F\xAB\xCE\x0A\x8D\xA2\xA0\xC6", 8));
  EXPECT_EQ(data.substr(8), "xyz");
  BlockCipher(data.data(), data.size(), CipherDirection::Decrypt, Bytes(0xFEDCBA9876543210));
  EXPECT_EQ(data, copy);
  BlockCipher(nullptr, 16, CipherDirection::Encrypt, "k");  // no buffer: nothing happens
}

TEST(CounterMode, ChangesWholeBlocksOnlyAndRoundTrips) {
  std::string text = "0123456789abc";  // 13 bytes
  std::string out = CounterCipher(text, "smtp.example.com", 0x11223344);
  EXPECT_NE(out.substr(0, 8), text.substr(0, 8));
  EXPECT_EQ(out.substr(8), text.substr(8));
  EXPECT_EQ(CounterCipher(out, "smtp.example.com", 0x11223344), text);
  EXPECT_EQ(CounterDecipher("", "k", 1), "");
  // the counter is incremented before the first block: seed 0 uses the counter value 1
  Blowfish bf("k");
  uint32_t l = 0, r = 1;
  bf.Encrypt(l, r);
  std::string zeros(8, '\0');
  std::string pad = CounterCipher(zeros, "k", 0);
  EXPECT_EQ(pad, Bytes(uint64_t{l} << 32 | r));
  // seed bytes little-endian in the counter's first four bytes
  l = 0x44332211, r = 1;
  bf.Encrypt(l, r);
  EXPECT_EQ(CounterCipher(zeros, "k", 0x11223344), Bytes(uint64_t{l} << 32 | r));
}

TEST(CounterMode, PaddingRemoval) {
  auto wrap = [](const std::string& plain) { return CounterCipher(plain, "key", 7); };
  EXPECT_EQ(CounterDecipher(wrap("secret\x02\x02"), "key", 7), "secret");
  EXPECT_EQ(CounterDecipher(wrap("passwor\x01"), "key", 7), "passwor");
  EXPECT_EQ(CounterDecipher(wrap("abcdefgh\x08\x08\x08\x08\x08\x08\x08\x08"), "key", 7), "abcdefgh");
  EXPECT_EQ(CounterDecipher(wrap("secret\x03\x03"), "key", 7), "secret\x03\x03");  // not a full pad
  EXPECT_EQ(CounterDecipher(wrap("abcdefg\x09"), "key", 7), "abcdefg\x09");
  EXPECT_EQ(CounterDecipher("\x05\x05", "key", 7), "\x05\x05");  // too short for its pad value
  // two stages, as stored passwords use them
  std::string stored = CounterCipher(CounterCipher("pw\x06\x06\x06\x06\x06\x06", "acct", 2), "srv", 1);
  EXPECT_EQ(CounterDecipher(CounterDecipher(stored, "srv", 1), "acct", 2), "pw");
}

TEST(Base64, EncodeGroups) {
  EXPECT_EQ(Base64Encode(""), "");
  EXPECT_EQ(Base64Encode("f"), "Zg==");
  EXPECT_EQ(Base64Encode("fo"), "Zm8=");
  EXPECT_EQ(Base64Encode("foo"), "Zm9v");
  EXPECT_EQ(Base64Encode("foobar"), "Zm9vYmFy");
  EXPECT_EQ(Base64Encode(std::string("\xFF\xFE\x00", 3)), "//4A");
}

TEST(Base64, DecodeRules) {
  EXPECT_EQ(Base64Decode("Zg=="), "f");
  EXPECT_EQ(Base64Decode("Zm8="), "fo");
  EXPECT_EQ(Base64Decode("Zm9vYmFy"), "foobar");
  EXPECT_EQ(Base64Decode("//4A"), std::string("\xFF\xFE\x00", 3));
  EXPECT_EQ(Base64Decode(""), "");
  EXPECT_EQ(Base64Decode("Zm9vYm"), "");  // length 6
  EXPECT_EQ(Base64Decode("Zm9v\r\nYmFy"), "");  // length 10
  EXPECT_EQ(Base64Decode("Zm9v\r\nYm"), "foo");  // stops at the line end
  EXPECT_EQ(Base64Decode("Zm9vZm8=Zm9v"), "foofo");  // nothing after the stop is read
  EXPECT_EQ(Base64Decode("Z==="), "");  // a single character carries no whole byte
  EXPECT_EQ(Base64Decode("===="), "");
  for (int n = 0; n < 40; ++n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>(i * 37 + n);
    EXPECT_EQ(Base64Decode(Base64Encode(s)), s);
  }
}
