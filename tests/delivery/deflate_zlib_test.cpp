// zlib as the oracle: every stream we write inflates with zlib, every raw stream zlib writes (all levels
// and strategies) inflates with us.
#include <gtest/gtest.h>
#include <zlib.h>

#include "crash/delivery/deflate.h"
#include "tests/delivery/deflate_corpus.h"

namespace {

using rvxtest::CorpusItem;

const std::vector<CorpusItem>& Corpus() {
  static const std::vector<CorpusItem> corpus = rvxtest::DeflateCorpus();
  return corpus;
}

constexpr rvx::DeflateEffort kEfforts[] = {rvx::DeflateEffort::kStandard, rvx::DeflateEffort::kThorough};

std::string Deflate(const std::string& data, rvx::DeflateEffort effort = rvx::DeflateEffort::kStandard) {
  std::string out(static_cast<size_t>(rvx::DeflateCapacity(static_cast<int64_t>(data.size()))), '\0');
  const int32_t n = rvx::DeflateBuffer(data.data(), out.data(), static_cast<int32_t>(data.size()),
                                       static_cast<int32_t>(out.size()), effort);
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

// Inflates a raw stream with zlib; also reports whether the stream ended and used all input.
std::string ZlibInflate(const std::string& packed, size_t expected, bool& endedExactly) {
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
  std::string out(expected + 1, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  z.avail_in = static_cast<uInt>(packed.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = inflate(&z, Z_FINISH);
  endedExactly = rc == Z_STREAM_END && z.avail_in == 0;
  out.resize(z.total_out);
  inflateEnd(&z);
  return out;
}

std::string ZlibDeflate(const std::string& data, int level, int strategy) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy), Z_OK);
  std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

TEST(DeflateWithZlibOracle, EveryCorpusItemInflatesBackWithZlib) {
  for (const rvx::DeflateEffort effort : kEfforts) {
    for (const CorpusItem& item : Corpus()) {
      SCOPED_TRACE(item.name + (effort == rvx::DeflateEffort::kThorough ? ", thorough" : ", standard"));
      const std::string packed = Deflate(item.data, effort);
      ASSERT_FALSE(packed.empty());
      bool ended = false;
      EXPECT_TRUE(ZlibInflate(packed, item.data.size(), ended) == item.data);
      EXPECT_TRUE(ended) << "the stream must end with a final block and nothing after it";
    }
  }
}

// The thorough search is worth its time only when it gets close to zlib's default level; a lazy matcher
// that quietly stopped finding matches would still produce valid streams.
TEST(DeflateWithZlibOracle, ThoroughEffortComesWithinTwoPercentOfZlibsDefaultLevel) {
  for (const CorpusItem& item : Corpus()) {
    if (item.data.size() < 100000 || item.name == "random") continue;
    SCOPED_TRACE(item.name);
    const size_t standard = Deflate(item.data).size();
    const size_t thorough = Deflate(item.data, rvx::DeflateEffort::kThorough).size();
    const size_t zlib6 = ZlibDeflate(item.data, 6, Z_DEFAULT_STRATEGY).size();
    EXPECT_LT(thorough, standard);
    EXPECT_LE(thorough, zlib6 + zlib6 / 50);
  }
}

TEST(DeflateWithZlibOracle, PrefixesOfTextAndBinaryAtBlockAndWindowBorders) {
  const std::string& text = Corpus()[2].data;
  const std::string& binary = Corpus()[3].data;
  for (size_t len : {2u, 3u, 4u, 5u, 257u, 258u, 259u, 261u, 262u, 263u, 16383u, 16384u, 32506u, 32768u, 32769u,
                     40000u}) {
    for (const std::string* src : {&text, &binary}) {
      for (const rvx::DeflateEffort effort : kEfforts) {
        const std::string data = src->substr(0, len);
        bool ended = false;
        EXPECT_TRUE(ZlibInflate(Deflate(data, effort), data.size(), ended) == data) << len;
        EXPECT_TRUE(ended) << len;
      }
    }
  }
}

TEST(DeflateWithZlibOracle, LongRunsAndSkewedAlphabetsNeedLengthLimitedCodes) {
  // Fibonacci-like symbol frequencies force Huffman depths beyond 15 bits before limiting.
  std::string data;
  uint64_t a = 1, b = 1;
  for (int sym = 0; sym < 26 && data.size() < 3000000; ++sym) {
    rvxtest::Prng r(static_cast<uint64_t>(sym));
    for (uint64_t k = 0; k < a; ++k) data.push_back(static_cast<char>('A' + sym));
    const uint64_t c = a + b;
    a = b;
    b = c;
  }
  rvxtest::Prng r(7);
  for (size_t i = data.size(); i > 1; --i) std::swap(data[i - 1], data[r.Below(static_cast<uint32_t>(i))]);
  std::string runs(1 << 20, 'a');
  for (size_t i = 0; i < runs.size(); i += 1 + r.Below(1000)) runs[i] = static_cast<char>(r.Below(256));
  for (const std::string* src : {&data, &runs}) {
    bool ended = false;
    EXPECT_TRUE(ZlibInflate(Deflate(*src), src->size(), ended) == *src);
    EXPECT_TRUE(ended);
  }
}

TEST(InflateWithZlibOracle, DecodesEveryLevelAndStrategy) {
  const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
  for (const CorpusItem& item : Corpus()) {
    if (item.data.empty()) continue;  // a destination length of 0 never counts as success
    for (int level = 0; level <= 9; ++level) {
      for (int strategy : strategies) {
        SCOPED_TRACE(item.name + " level " + std::to_string(level) + " strategy " + std::to_string(strategy));
        const std::string packed = ZlibDeflate(item.data, level, strategy);
        std::string out(item.data.size(), '\0');
        ASSERT_EQ(rvx::InflateBuffer(packed.data(), out.data(), static_cast<int32_t>(packed.size()),
                                     static_cast<int32_t>(out.size())),
                  static_cast<int32_t>(out.size()));
        ASSERT_TRUE(out == item.data);
      }
    }
  }
}

TEST(InflateWithZlibOracle, RejectsWrongLengthsAndTrailingBytes) {
  const std::string& text = Corpus()[2].data;
  const std::string packed = ZlibDeflate(text, 6, Z_DEFAULT_STRATEGY);
  std::string out(text.size() + 1, '\0');
  const auto n = static_cast<int32_t>(text.size());
  EXPECT_EQ(rvx::InflateBuffer(packed.data(), out.data(), static_cast<int32_t>(packed.size()), n + 1), 0);
  EXPECT_EQ(rvx::InflateBuffer(packed.data(), out.data(), static_cast<int32_t>(packed.size()), n - 1), 0);
  const std::string trailing = packed + "x";
  EXPECT_EQ(rvx::InflateBuffer(trailing.data(), out.data(), static_cast<int32_t>(trailing.size()), n), 0);
  EXPECT_EQ(rvx::InflateBuffer(packed.data(), out.data(), static_cast<int32_t>(packed.size()), n), n);
}

TEST(InflateWithZlibOracle, EmptyStreamOfZlibAndOursAgree) {
  const std::string ours = Deflate("");
  bool ended = false;
  EXPECT_EQ(ZlibInflate(ours, 0, ended), "");
  EXPECT_TRUE(ended);
}

}  // namespace
