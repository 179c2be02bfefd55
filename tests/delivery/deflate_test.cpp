// Compressor, decompressor, checked strings and CRC-32 on their own (runs natively and under Wine).
#include <gtest/gtest.h>

#include <algorithm>
#include <queue>

#include "crash/delivery/deflate.h"
#include "crash/delivery/deflate_huffman.h"
#include "tests/delivery/deflate_corpus.h"

namespace {

std::string Deflate(std::string_view data, int64_t capacity = -1,
                    rvx::DeflateEffort effort = rvx::DeflateEffort::kStandard) {
  if (capacity < 0) capacity = rvx::DeflateCapacity(static_cast<int64_t>(data.size()));
  std::string out(static_cast<size_t>(capacity), '\0');
  const int32_t n = rvx::DeflateBuffer(data.data(), out.data(), static_cast<int32_t>(data.size()),
                                       static_cast<int32_t>(capacity), effort);
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

int32_t Inflate(std::string_view packed, std::string& out, size_t length) {
  out.assign(length, '\0');
  return rvx::InflateBuffer(packed.data(), out.data(), static_cast<int32_t>(packed.size()),
                            static_cast<int32_t>(length));
}

uint32_t BitwiseCrc(std::string_view data) {
  uint32_t crc = 0xFFFFFFFF;
  for (unsigned char c : data) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320 : crc >> 1;
  }
  return ~crc;
}

TEST(Crc32, KnownValuesAndUpdateRules) {
  EXPECT_EQ(~rvx::Crc32Update(0xFFFFFFFF, "abc", 3), 0x352441C2u);
  EXPECT_EQ(rvx::Crc32Of(std::string_view("123456789")), 0xCBF43926u);
  EXPECT_EQ(rvx::Crc32Of(std::string_view()), 0u);
  EXPECT_EQ(rvx::Crc32Update(0x12345678, "abc", 0), 0x12345678u);
  EXPECT_EQ(rvx::Crc32Update(0x12345678, "abc", -3), 0x12345678u);
}

TEST(Crc32, WordWiseMatchesBitwiseAtEveryLengthAlignmentAndSplit) {
  rvxtest::Prng r(1);
  const std::string data = rvxtest::RandomData(r, 300);
  for (size_t offset = 0; offset < 8; ++offset) {
    for (size_t len = 0; len + offset <= 140; ++len) {
      const std::string_view piece(data.data() + offset, len);
      ASSERT_EQ(rvx::Crc32Of(piece), BitwiseCrc(piece)) << offset << " " << len;
      const size_t split = len / 3;
      uint32_t crc = rvx::Crc32Update(0xFFFFFFFF, piece.data(), static_cast<int32_t>(split));
      crc = rvx::Crc32Update(crc, piece.data() + split, static_cast<int32_t>(len - split));
      ASSERT_EQ(~crc, BitwiseCrc(piece));
    }
  }
}

TEST(Deflate, EveryCorpusItemRoundTripsWithinTheCallersCapacity) {
  for (const auto& item : rvxtest::DeflateCorpus()) {
    SCOPED_TRACE(item.name);
    const std::string packed = Deflate(item.data);
    ASSERT_FALSE(packed.empty());
    EXPECT_LT(static_cast<int64_t>(packed.size()), rvx::DeflateCapacity(static_cast<int64_t>(item.data.size())));
    if (item.data.empty()) continue;
    std::string back;
    EXPECT_EQ(Inflate(packed, back, item.data.size()), static_cast<int32_t>(item.data.size()));
    EXPECT_TRUE(back == item.data);
  }
}

// Lazy matching holds one byte back while it looks one position further; blocks end every 16383 symbols,
// so with data that switches between noise (stored blocks) and repeats (matches), blocks end while a byte
// is held, right after a match and at the very end.
TEST(Deflate, ThoroughEffortRoundTripsAcrossBlockEndsWithAHeldByte) {
  rvxtest::Prng r(11);
  const std::string text = rvxtest::BugReportText(r);
  std::string mixed;
  while (mixed.size() < 600000) {
    mixed += rvxtest::RandomData(r, 1 + r.Below(20000));
    const size_t from = r.Below(static_cast<uint32_t>(text.size() - 600));
    mixed += text.substr(from, 3 + r.Below(500));
    mixed.append(r.Below(300), static_cast<char>(r.Below(256)));
  }
  std::vector<std::string> inputs = {"", "a", "ab", "abc", "abcabc", "aaaa", mixed};
  for (size_t cut : {16383u, 16384u, 32768u, 65535u, 65536u, 65537u}) inputs.push_back(mixed.substr(0, cut));
  for (const auto& item : rvxtest::DeflateCorpus()) inputs.push_back(item.data);
  for (const std::string& data : inputs) {
    SCOPED_TRACE(data.size());
    const std::string packed = Deflate(data, -1, rvx::DeflateEffort::kThorough);
    ASSERT_FALSE(packed.empty());
    std::string back(data.size(), '\0');
    EXPECT_TRUE(rvx::InflateExact(packed.data(), static_cast<int32_t>(packed.size()), back.data(),
                                  static_cast<int32_t>(back.size())));
    EXPECT_TRUE(back == data);
  }
}

TEST(Deflate, EmptySourceIsOneFinalFixedBlock) {
  EXPECT_EQ(Deflate(""), std::string("\x03\x00", 2));
}

TEST(Deflate, CapacityMustExceedTheStream) {
  rvxtest::Prng r(2);
  const std::string text = rvxtest::BugReportText(r);
  const std::string packed = Deflate(text);
  const auto size = static_cast<int64_t>(packed.size());
  EXPECT_EQ(Deflate(text, size + 1), packed);
  EXPECT_EQ(Deflate(text, size), "") << "a stream that fills the destination exactly counts as not fitting";
  EXPECT_EQ(Deflate(text, size - 1), "");
  EXPECT_EQ(Deflate(text, 3), "");
  char out[16];
  EXPECT_EQ(rvx::DeflateBuffer(text.data(), out, -1, 16), 0);
  EXPECT_EQ(rvx::DeflateBuffer(text.data(), out, 4, 0), 0);
  EXPECT_EQ(rvx::DeflateBuffer(nullptr, out, 4, 16), 0);
}

TEST(Deflate, ChoosesStoredFixedOrDynamicBlocksByLength) {
  rvxtest::Prng r(3);
  auto blockType = [](const std::string& packed) { return (static_cast<unsigned char>(packed[0]) >> 1) & 3; };
  EXPECT_EQ(blockType(Deflate(rvxtest::RandomData(r, 20000))), 0u);
  EXPECT_EQ(blockType(Deflate("hello hello hello")), 1u);
  EXPECT_EQ(blockType(Deflate(rvxtest::BugReportText(r))), 2u);
  // Incompressible data costs five bytes per stored block of 16383 symbols at most.
  const std::string noise = rvxtest::RandomData(r, 100000);
  EXPECT_LE(Deflate(noise).size(), noise.size() + 5 * (noise.size() / 16383 + 1));
}

TEST(Inflate, SucceedsOnlyForTheExactLengthAndWholeInput) {
  rvxtest::Prng r(4);
  const std::string text = rvxtest::BugReportText(r);
  const std::string packed = Deflate(text);
  std::string out;
  EXPECT_EQ(Inflate(packed, out, text.size()), static_cast<int32_t>(text.size()));
  EXPECT_EQ(Inflate(packed, out, text.size() + 1), 0);
  EXPECT_EQ(Inflate(packed, out, text.size() - 1), 0);
  EXPECT_EQ(Inflate(packed + '\0', out, text.size()), 0) << "bytes after the final block";
  EXPECT_EQ(Inflate(packed, out, 0), 0);
  EXPECT_EQ(rvx::InflateBuffer(packed.data(), out.data(), -1, 5), 0);
  for (size_t cut = 0; cut + 1 < packed.size(); ++cut) {
    // A cut stream may at best lose its end-of-block code; it never yields anything but all or nothing.
    const int32_t n = Inflate(packed.substr(0, cut), out, text.size());
    ASSERT_TRUE(n == 0 || (n == static_cast<int32_t>(text.size()) && out == text)) << cut;
  }
}

TEST(Inflate, StreamThatRunsOutOfInputAfterTheLastByteStillCounts) {
  // A non-final stored block and no further block: the decoder is still running when the input ends.
  const std::string stream = std::string("\x00\x05\x00\xfa\xff", 5) + "hello";
  std::string out;
  EXPECT_EQ(Inflate(stream, out, 5), 5);
  EXPECT_EQ(out, "hello");
  EXPECT_EQ(Inflate(stream, out, 6), 0);
}

TEST(Inflate, RejectsMalformedStreams) {
  std::string out;
  EXPECT_EQ(Inflate(std::string("\x07\x00", 2), out, 1), 0) << "block type 3";
  EXPECT_EQ(Inflate(std::string("\x01\x05\x00\xfa\xfe", 5) + "hello", out, 5), 0) << "stored length check";
  // Fixed block whose first symbol is a match: there is nothing to copy from yet.
  EXPECT_EQ(Inflate(std::string("\x03\x02\x00", 3), out, 3), 0);
  // Dynamic header asking for 287 literal/length codes.
  EXPECT_EQ(Inflate(std::string("\xf5\x07\x00\x00", 4), out, 4), 0);
}

TEST(Inflate, SurvivesEveryBitFlipOfADynamicStream) {
  rvxtest::Prng r(5);
  const std::string text = rvxtest::BugReportText(r, 1);
  const std::string packed = Deflate(text);
  std::string out;
  for (size_t bit = 0; bit < std::min<size_t>(packed.size(), 160) * 8; ++bit) {
    std::string damaged = packed;
    damaged[bit / 8] = static_cast<char>(damaged[bit / 8] ^ (1 << (bit % 8)));
    const int32_t n = Inflate(damaged, out, text.size());
    ASSERT_TRUE(n == 0 || n == static_cast<int32_t>(text.size()));
  }
}

TEST(CheckedString, RoundTripAndEveryKindOfDamage) {
  rvxtest::Prng r(6);
  const std::string text = rvxtest::BugReportText(r);
  const std::string packed = rvx::PackCheckedString(text);
  ASSERT_GT(packed.size(), 12u);
  EXPECT_TRUE(rvx::InflateCheckedString(packed) == text);

  EXPECT_EQ(rvx::InflateCheckedString(packed.substr(0, 12)), "");
  EXPECT_EQ(rvx::InflateCheckedString(packed.substr(0, 5)), "");
  EXPECT_TRUE(rvx::InflateCheckedString(packed.substr(0, packed.size() / 2)).empty());
  auto withLength = [&](uint32_t length) {
    std::string s = packed;
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(length >> (8 * i));
    return s;
  };
  EXPECT_EQ(rvx::InflateCheckedString(withLength(static_cast<uint32_t>(text.size() + 1))), "");
  EXPECT_EQ(rvx::InflateCheckedString(withLength(static_cast<uint32_t>(text.size() - 1))), "");
  EXPECT_EQ(rvx::InflateCheckedString(withLength(0)), "");
  EXPECT_EQ(rvx::InflateCheckedString(withLength(0x7FFFFFFF)), "") << "impossible length, refused unread";
  EXPECT_EQ(rvx::InflateCheckedString(withLength(0xFFFFFFFF)), "");
  std::string badCrc = packed;
  badCrc[8] = static_cast<char>(badCrc[8] ^ 1);
  EXPECT_EQ(rvx::InflateCheckedString(badCrc), "");
  std::string unused = packed;
  unused[5] = 'x';
  EXPECT_TRUE(rvx::InflateCheckedString(unused) == text) << "bytes 4..7 are not read";
}

// Cost of an optimal (unlimited) Huffman code, for comparison.
uint64_t HuffmanCost(const std::vector<uint32_t>& freq) {
  std::priority_queue<uint64_t, std::vector<uint64_t>, std::greater<>> q;
  for (uint32_t f : freq)
    if (f) q.push(f);
  uint64_t cost = 0;
  while (q.size() > 1) {
    const uint64_t a = q.top();
    q.pop();
    const uint64_t b = q.top();
    q.pop();
    cost += a + b;
    q.push(a + b);
  }
  return cost;
}

TEST(HuffmanLengths, OptimalWhenUnconstrainedCompleteAndLimitedOtherwise) {
  rvxtest::Prng r(7);
  for (int round = 0; round < 200; ++round) {
    const int n = 2 + static_cast<int>(r.Below(285));
    const int maxBits = round % 2 ? 15 : 7;
    const int symbols = maxBits == 7 ? std::min(n, 19) : n;
    std::vector<uint32_t> freq(static_cast<size_t>(symbols));
    const bool skewed = round % 3 == 0;
    for (int i = 0; i < symbols; ++i) freq[static_cast<size_t>(i)] = r.Below(4) ? (skewed ? 1u << r.Below(20) : r.Below(1000)) : 0;
    std::vector<uint8_t> len(static_cast<size_t>(symbols));
    rvx::deflate::BuildCodeLengths(freq.data(), symbols, maxBits, len.data());
    uint64_t kraft = 0, cost = 0;
    int used = 0, maxLen = 0;
    for (int i = 0; i < symbols; ++i) {
      if (freq[static_cast<size_t>(i)]) ASSERT_GT(len[static_cast<size_t>(i)], 0) << "every used symbol has a code";
      if (!len[static_cast<size_t>(i)]) continue;
      ++used;
      maxLen = std::max<int>(maxLen, len[static_cast<size_t>(i)]);
      kraft += uint64_t(1) << (maxBits - len[static_cast<size_t>(i)]);
      cost += uint64_t(freq[static_cast<size_t>(i)]) * len[static_cast<size_t>(i)];
    }
    ASSERT_GE(used, 2);
    ASSERT_LE(maxLen, maxBits);
    ASSERT_EQ(kraft, uint64_t(1) << maxBits) << "complete code set";
    if (!skewed && maxLen < maxBits) ASSERT_EQ(cost, HuffmanCost(freq)) << "round " << round;
  }
}

TEST(HuffmanLengths, RunLengthTokensDecodeBackToTheLengths) {
  rvxtest::Prng r(8);
  for (int round = 0; round < 100; ++round) {
    std::vector<uint8_t> lengths;
    while (lengths.size() < 316) {
      const auto value = static_cast<uint8_t>(r.Below(3) ? 0 : r.Below(16));
      lengths.insert(lengths.end(), 1 + r.Below(r.Below(2) ? 150 : 8), value);
    }
    lengths.resize(257 + r.Below(60));
    rvx::deflate::CodeLengthTokens tokens;
    rvx::deflate::RunLengthCode(lengths.data(), static_cast<int>(lengths.size()), tokens);
    std::vector<uint8_t> back;
    for (int i = 0; i < tokens.count; ++i) {
      const int sym = tokens.symbol[i], extra = tokens.extra[i];
      if (sym < 16) back.push_back(static_cast<uint8_t>(sym));
      else if (sym == 16) back.insert(back.end(), 3 + extra, back.back());
      else back.insert(back.end(), (sym == 17 ? 3 : 11) + extra, 0);
      ASSERT_LE(extra, (1 << rvx::deflate::CodeLengthExtraBits(sym)) - 1);
    }
    ASSERT_EQ(back, lengths);
  }
}

}  // namespace
