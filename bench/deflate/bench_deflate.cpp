// Compressed size and speed of DeflateBuffer and InflateBuffer against zlib levels 1 and 6 (raw deflate,
// default strategy), measured in the same run on the same corpus. Prints ratios (ours / zlib).
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <vector>
#include <sstream>

#include "crash/delivery/deflate.h"
#include "tests/delivery/deflate_corpus.h"

namespace {

using Clock = std::chrono::steady_clock;

// Calls per batch so that one batch takes about 40 ms.
int BatchSize(const std::function<void()>& work) {
  work();
  int per = 1;
  for (;;) {
    const auto t0 = Clock::now();
    for (int i = 0; i < per; ++i) work();
    const double t = std::chrono::duration<double>(Clock::now() - t0).count();
    if (t > 0.04 || per >= (1 << 20)) return per;
    per *= t < 0.004 ? 10 : 2;
  }
}

double BatchTime(const std::function<void()>& work, int per) {
  const auto t0 = Clock::now();
  for (int i = 0; i < per; ++i) work();
  return std::chrono::duration<double>(Clock::now() - t0).count() / per;
}

// Best time of one call of each piece of work, in seconds. The pieces are timed in alternating batches
// (eleven rounds), so that a busy machine slows all of them alike; the best batch of each counts.
std::vector<double> BestTimes(const std::vector<std::function<void()>>& work) {
  std::vector<int> per;
  for (const auto& w : work) per.push_back(BatchSize(w));
  std::vector<double> best(work.size(), 1e30);
  for (int round = 0; round < 11; ++round)
    for (size_t i = 0; i < work.size(); ++i) best[i] = std::min(best[i], BatchTime(work[i], per[i]));
  return best;
}

// zlib's one-shot use, as DeflateBuffer and InflateBuffer are one-shot: set up, run, release per call.
struct Zlib {
  size_t Deflate(int level, const std::string& in, std::string& out) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    const size_t n = z.total_out;
    deflateEnd(&z);
    return n;
  }
  size_t Inflate(const std::string& in, size_t inSize, std::string& out) {
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = static_cast<uInt>(inSize);
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    inflate(&z, Z_FINISH);
    const size_t n = z.total_out;
    inflateEnd(&z);
    return n;
  }
};

struct Totals {
  double bytes = 0, ours = 0, z1 = 0, z6 = 0;                  // compressed sizes
  double tOurs = 0, tZ1 = 0, tZ6 = 0;                           // compression times
  double tInfOurs = 0, tInfZlib = 0;                            // inflation of our stream
  double tInfOurs6 = 0, tInfZlib6 = 0;                          // inflation of zlib level 6's stream
};

void Measure(const rvxtest::CorpusItem& item, Zlib& z, Totals& total) {
  const std::string& in = item.data;
  const auto n = static_cast<int32_t>(in.size());
  std::string ours(static_cast<size_t>(rvx::DeflateCapacity(n)), '\0');
  std::string zbuf(compressBound(static_cast<uLong>(in.size())) + 64, '\0');
  std::string back(in.size() + 1, '\0');

  int32_t oursSize = 0;
  size_t z1 = 0, z6 = 0;
  const std::vector<double> deflateTimes = BestTimes({
      [&] { oursSize = rvx::DeflateBuffer(in.data(), ours.data(), n, static_cast<int32_t>(ours.size())); },
      [&] { z1 = z.Deflate(1, in, zbuf); },
      [&] { z6 = z.Deflate(6, in, zbuf); },
  });
  const double tOurs = deflateTimes[0], tZ1 = deflateTimes[1], tZ6 = deflateTimes[2];
  std::string z6stream = zbuf.substr(0, z6);

  double tInfOurs = 0, tInfZlib = 0, tInfOurs6 = 0, tInfZlib6 = 0;
  if (n > 0) {
    int32_t got = 0, got6 = 0;
    const std::vector<double> inflateTimes = BestTimes({
        [&] { got = rvx::InflateBuffer(ours.data(), back.data(), oursSize, n); },
        [&] { z.Inflate(ours, static_cast<size_t>(oursSize), back); },
        [&] { got6 = rvx::InflateBuffer(z6stream.data(), back.data(), static_cast<int32_t>(z6), n); },
        [&] { z.Inflate(z6stream, z6, back); },
    });
    tInfOurs = inflateTimes[0], tInfZlib = inflateTimes[1], tInfOurs6 = inflateTimes[2], tInfZlib6 = inflateTimes[3];
    if (got != n || got6 != n || back.compare(0, in.size(), in) != 0)
      std::printf("!! InflateBuffer failed on the %s streams\n", item.name.c_str());
  }
  const double mb = in.size() / 1e6;
  std::printf("%-11s %9zu  size %8d vs z1 %8zu z6 %8zu  ratio z1 %.3f z6 %.3f | deflate %7.1f MB/s vs z1 %7.1f: x%.2f | "
              "inflate x%.2f (our stream), x%.2f (z6 stream)\n",
              item.name.c_str(), in.size(), oursSize, z1, z6, z1 ? double(oursSize) / z1 : 0.0,
              z6 ? double(oursSize) / z6 : 0.0, tOurs > 0 ? mb / tOurs : 0.0, tZ1 > 0 ? mb / tZ1 : 0.0,
              tOurs > 0 ? tZ1 / tOurs : 0.0, tInfOurs > 0 ? tInfZlib / tInfOurs : 0.0,
              tInfOurs6 > 0 ? tInfZlib6 / tInfOurs6 : 0.0);
  total.bytes += in.size();
  total.ours += oursSize;
  total.z1 += z1;
  total.z6 += z6;
  total.tOurs += tOurs;
  total.tZ1 += tZ1;
  total.tZ6 += tZ6;
  total.tInfOurs += tInfOurs;
  total.tInfZlib += tInfZlib;
  total.tInfOurs6 += tInfOurs6;
  total.tInfZlib6 += tInfZlib6;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<rvxtest::CorpusItem> corpus = rvxtest::DeflateCorpus();
  // A real executable as a second binary sample: this program itself.
  std::ifstream self("/proc/self/exe", std::ios::binary);
  if (self) {
    std::ostringstream ss;
    ss << self.rdbuf();
    corpus.push_back({"executable", ss.str().substr(0, 4u << 20)});
  }
  std::printf("peer: zlib %s (raw deflate, default strategy); ratios are ours / zlib, speeds zlib time / ours\n",
              zlibVersion());
  Zlib z;
  Totals t;
  for (const auto& item : corpus) Measure(item, z, t);
  std::printf("\nwhole corpus (%.1f MB, one call per item):\n", t.bytes / 1e6);
  std::printf("  compressed size      ours / zlib-1 = %.3f   (target <= 1.000)   ours / zlib-6 = %.3f\n",
              t.ours / t.z1, t.ours / t.z6);
  std::printf("  compression speed    ours / zlib-1 = %.2f    (target >= 0.90)    ours / zlib-6 = %.2f\n",
              t.tZ1 / t.tOurs, t.tZ6 / t.tOurs);
  std::printf("  inflation speed      ours / zlib   = %.2f    (target >= 0.80) on our streams, %.2f on zlib-6 streams\n",
              t.tInfZlib / t.tInfOurs, t.tInfZlib6 / t.tInfOurs6);
  std::printf("  throughput           deflate %.1f MB/s, inflate %.1f MB/s\n", t.bytes / 1e6 / t.tOurs,
              t.bytes / 1e6 / t.tInfOurs);
  return 0;
}
