// Base64 (standard alphabet, "=" padding, no line breaks) and the 64-bit block cipher used for the symbol
// data and for stored passwords.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace rvx {

std::string Base64Encode(std::string_view bytes);
// Never fails: empty when the text is empty or its length is not a multiple of 4; decoding stops at the first
// character outside the alphabet (normally "=").
std::string Base64Decode(std::string_view text);

// The keyed cipher state: 18-entry P-array and four S-boxes. Keys of any length; the key bytes are used
// cyclically (an empty key leaves the initial tables unkeyed before the schedule runs).
class Blowfish {
 public:
  explicit Blowfish(std::string_view key);
  void Encrypt(uint32_t& left, uint32_t& right) const;
  void Decrypt(uint32_t& left, uint32_t& right) const;

 private:
  uint32_t F(uint32_t x) const;
  uint32_t p_[18];
  uint32_t s_[4][256];
};

enum class CipherDirection { Encrypt, Decrypt };

// Block mode: every complete 8-byte block is replaced by its encryption (decryption), the two 32-bit halves
// taken in little-endian byte order; a remainder of fewer than 8 bytes stays unchanged.
void BlockCipher(void* buffer, size_t length, CipherDirection direction, std::string_view key);

// Counter mode with padding removal (enciphering and deciphering are the same operation apart from the
// padding). The counter starts as the seed's bytes (little-endian) and four zero bytes, is read as a
// big-endian 64-bit number and incremented before every block.
std::string CounterDecipher(std::string_view text, std::string_view key, uint32_t seed);
// The same without padding removal (used to produce stored texts).
std::string CounterCipher(std::string_view text, std::string_view key, uint32_t seed);

}  // namespace rvx
