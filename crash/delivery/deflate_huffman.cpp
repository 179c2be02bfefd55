// Length-limited Huffman code lengths: optimal lengths computed in place over the sorted frequencies,
// then codes deeper than the limit are lifted and the Kraft sum is brought back to exactly one.
#include "crash/delivery/deflate_huffman.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace rvx::deflate {
namespace {

// In-place minimum-redundancy code lengths for n >= 2 frequencies sorted ascending: on return a[i] is the
// depth of the i-th symbol (non-increasing in i).
void MinimumRedundancy(uint32_t* a, int n) {
  int root = 0;
  int leaf = 2;
  a[0] += a[1];
  for (int next = 1; next < n - 1; ++next) {
    // first child: a pending internal node or the next leaf, whichever weighs less
    if (leaf >= n || a[root] < a[leaf]) {
      a[next] = a[root];
      a[root++] = static_cast<uint32_t>(next);
    } else {
      a[next] = a[leaf++];
    }
    // second child
    if (leaf >= n || (root < next && a[root] < a[leaf])) {
      a[next] += a[root];
      a[root++] = static_cast<uint32_t>(next);
    } else {
      a[next] += a[leaf++];
    }
  }
  // parent pointers -> internal node depths
  a[n - 2] = 0;
  for (int next = n - 3; next >= 0; --next) a[next] = a[a[next]] + 1;
  // internal node depths -> leaf depths
  int available = 1;
  int used = 0;
  uint32_t depth = 0;
  root = n - 2;
  int next = n - 1;
  while (available > 0) {
    while (root >= 0 && a[root] == depth) {
      ++used;
      --root;
    }
    while (available > used) {
      a[next--] = depth;
      --available;
    }
    available = 2 * used;
    ++depth;
    used = 0;
  }
}

}  // namespace

void BuildCodeLengths(const uint32_t* freq, int count, int maxBits, uint8_t* lengths) {
  std::memset(lengths, 0, static_cast<size_t>(count));
  uint32_t key[288];  // frequency << 9 | symbol
  int n = 0;
  for (int s = 0; s < count; ++s)
    if (freq[s]) key[n++] = (freq[s] << 9) | static_cast<uint32_t>(s);
  if (n < 2) {
    const int used = n ? static_cast<int>(key[0] & 511) : 0;
    lengths[used] = 1;
    lengths[used == 0 ? 1 : 0] = 1;
    return;
  }
  std::sort(key, key + n);
  uint32_t depth[288];
  for (int i = 0; i < n; ++i) depth[i] = key[i] >> 9;
  MinimumRedundancy(depth, n);

  int perLength[289] = {};
  for (int i = 0; i < n; ++i) ++perLength[std::min<int>(static_cast<int>(depth[i]), maxBits)];
  // Kraft sum in units of 2^-maxBits; clamping may have pushed it above one.
  const uint32_t full = 1u << maxBits;
  uint32_t kraft = 0;
  for (int len = 1; len <= maxBits; ++len) kraft += static_cast<uint32_t>(perLength[len]) << (maxBits - len);
  while (kraft > full) {  // lengthen the deepest code that is still shorter than the limit
    int len = maxBits - 1;
    while (perLength[len] == 0) --len;
    --perLength[len];
    ++perLength[len + 1];
    kraft -= 1u << (maxBits - len - 1);
  }
  while (kraft < full) {  // shorten the deepest code to fill the gap
    int len = maxBits;
    while (perLength[len] == 0) --len;
    --perLength[len];
    ++perLength[len - 1];
    kraft += 1u << (maxBits - len);
  }
  // The rarest symbols take the longest codes.
  int i = 0;
  for (int len = maxBits; len >= 1; --len)
    for (int k = 0; k < perLength[len]; ++k) lengths[key[i++] & 511] = static_cast<uint8_t>(len);
}

void RunLengthCode(const uint8_t* lengths, int count, CodeLengthTokens& tokens) {
  tokens.count = 0;
  std::fill(std::begin(tokens.freq), std::end(tokens.freq), 0u);
  auto add = [&](int symbol, int extra) {
    tokens.symbol[tokens.count] = static_cast<uint8_t>(symbol);
    tokens.extra[tokens.count] = static_cast<uint8_t>(extra);
    ++tokens.count;
    ++tokens.freq[symbol];
  };
  int i = 0;
  while (i < count) {
    const uint8_t len = lengths[i];
    int run = 1;
    while (i + run < count && lengths[i + run] == len) ++run;
    i += run;
    if (len == 0) {
      while (run >= 11) {
        const int k = std::min(run, 138);
        add(18, k - 11);
        run -= k;
      }
      if (run >= 3) {
        add(17, run - 3);
        run = 0;
      }
      while (run-- > 0) add(0, 0);
    } else {
      add(len, 0);
      --run;
      while (run >= 3) {
        const int k = std::min(run, 6);
        add(16, k - 3);
        run -= k;
      }
      while (run-- > 0) add(len, 0);
    }
  }
}

}  // namespace rvx::deflate
