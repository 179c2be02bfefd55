// Upload speed: UploadReport posting a bug report with a 1 MB attachment to a sink server on 127.0.0.1,
// against Python's http.client posting the very same request body to the same server. Both sides are
// timed in alternating rounds of five uploads (each on a new connection, waiting for the answer); the best
// round of each counts. Prints the ratio ours / http.client (below 1: we are faster).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "crash/core/settings.h"
#include "crash/delivery/fields.h"
#include "crash/delivery/http_upload.h"
#include "crash/ui/progress_alert.h"
#include "tests/delivery/child_process.h"
#include "tests/delivery/upload_server.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kPerRound = 5;
constexpr int kRounds = 7;

// Reads each request whole, keeps the last body and its content type, answers 200.
const char* kSink = R"PY(import os, socket, sys, threading
out, port_file = sys.argv[1], sys.argv[2]
def handle(conn):
    data = b''
    while b'\r\n\r\n' not in data:
        chunk = conn.recv(65536)
        if not chunk: return
        data += chunk
    head, _, body = data.partition(b'\r\n\r\n')
    headers = dict((k.strip().lower(), v.strip()) for k, _, v in (l.partition(b':') for l in head.split(b'\r\n')[1:]))
    length = int(headers.get(b'content-length', b'0'))
    while len(body) < length:
        chunk = conn.recv(min(1 << 20, length - len(body)))
        if not chunk: break
        body += chunk
    if not os.path.exists(out + '.body'):
        open(out + '.type', 'wb').write(headers.get(b'content-type', b''))
        open(out + '.body', 'wb').write(body)
    conn.sendall(b'HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n')
    conn.close()
s = socket.socket(); s.bind(('127.0.0.1', 0)); s.listen(16)
open(port_file + '.tmp', 'w').write(str(s.getsockname()[1])); os.rename(port_file + '.tmp', port_file)
while True:
    c, _ = s.accept()
    threading.Thread(target=handle, args=(c,), daemon=True).start()
)PY";

// Posts the recorded body `count` times with http.client; prints the seconds taken.
const char* kClient = R"PY(import http.client, sys, time
port, saved, count = int(sys.argv[1]), sys.argv[2], int(sys.argv[3])
body = open(saved + '.body', 'rb').read(); ctype = open(saved + '.type', 'rb').read().decode()
t0 = time.perf_counter()
for i in range(count):
    c = http.client.HTTPConnection('127.0.0.1', port)
    c.request('POST', '/bugs/post', body=body, headers={'Content-Type': ctype, 'Connection': 'close',
              'Pragma': 'no-cache', 'User-Agent': 'bench'})
    r = c.getresponse(); r.read()
    if r.status != 200: sys.exit('status %d' % r.status)
    c.close()
print(time.perf_counter() - t0)
)PY";

std::wstring Wide(const fs::path& p) {
  const std::string s = p.string();
  return std::wstring(s.begin(), s.end());
}

}  // namespace

int main() {
  const fs::path dir = fs::temp_directory_path() / ("bench_http." + std::to_string(::getpid()));
  fs::create_directories(dir);
  rvx::test::WriteFile(dir / "sink.py", kSink);
  rvx::test::WriteFile(dir / "client.py", kClient);
  std::string attachment(1 << 20, '\0');
  std::mt19937 random(1);
  for (char& c : attachment) c = static_cast<char>(random() & 0xFF);
  rvx::test::WriteFile(dir / "screenshot.png", attachment);
  rvx::test::WriteFile(dir / "bugreport.txt", std::string(20000, 'r'));

  rvxtest::ChildProcess sink;
  if (!sink.Start({"/usr/bin/python3", (dir / "sink.py").string(), (dir / "saved").string(), (dir / "port").string()},
                  (dir / "sink.log").string()) ||
      !rvxtest::WaitForFile(dir / "port")) {
    std::printf("bench_http: the Python sink server did not start\n");
    return 1;
  }
  const uint16_t port = static_cast<uint16_t>(std::stoi(rvxtest::ReadWhole(dir / "port")));

  rvx::SetUploadNoProxy(true);
  rvx::MailJob job;
  job.upload = true;
  job.server = "127.0.0.1/bugs/post";
  job.port = port;
  job.sender = "Ravex <crash@example.test>";
  job.fields = rvx::CreateFields();
  rvx::Query<rvx::IRVFieldsEx>(job.fields.get())->AcceptData();
  job.fields->Add("MailSubject", "Bug report");
  job.fields->Add("MailBody", "The program stopped.");
  job.files = {Wide(dir / "bugreport.txt"), Wide(dir / "screenshot.png")};
  job.sendAs = {"bugreport.txt", "screenshot.png"};
  job.fieldNames = {"bugreport", "screenshot"};
  if (!rvx::UploadReport(job)) {  // also records the body for the peer
    std::printf("bench_http: upload failed: %s\n", job.error.c_str());
    return 1;
  }

  double ours = 1e9, peer = 1e9;
  const std::string clientCommand = "/usr/bin/python3 '" + (dir / "client.py").string() + "' " +
                                    std::to_string(port) + " '" + (dir / "saved").string() + "' " +
                                    std::to_string(kPerRound);
  for (int round = 0; round < kRounds; ++round) {
    const auto t0 = Clock::now();
    for (int i = 0; i < kPerRound; ++i) {
      if (!rvx::UploadReport(job)) {
        std::printf("bench_http: upload failed: %s\n", job.error.c_str());
        return 1;
      }
    }
    ours = std::min(ours, std::chrono::duration<double>(Clock::now() - t0).count());
    FILE* p = ::popen(clientCommand.c_str(), "r");
    double seconds = 0;
    if (!p || std::fscanf(p, "%lf", &seconds) != 1) {
      std::printf("bench_http: the http.client peer failed\n");
      return 1;
    }
    ::pclose(p);
    peer = std::min(peer, seconds);
  }
  sink.Stop();
  fs::remove_all(dir);
  std::printf("upload of a report with a 1 MB attachment over loopback, best of %d rounds of %d:\n", kRounds,
              kPerRound);
  std::printf("  UploadReport       %8.2f ms per upload\n", ours / kPerRound * 1000);
  std::printf("  python http.client %8.2f ms per upload\n", peer / kPerRound * 1000);
  std::printf("  ratio ours / http.client: %.2f\n", ours / peer);
  return 0;
}
