// A real HTTP server for the upload tests: a Python script on 127.0.0.1 that reads one POST per connection,
// parses its multipart body with werkzeug and writes what it got into a folder per case, then answers the
// way the request path asks ("/<answer>/<case>"). Stopped with its test. Native only.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "tests/delivery/child_process.h"
#include "tests/support/oracle_files.h"

namespace rvxtest {

inline const char* kUploadServerScript = R"PY(import os, socket, sys, threading, time, io
from werkzeug.formparser import parse_form_data

out_dir, port_file = sys.argv[1], sys.argv[2]
ANSWERS = {
    '200': b'HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok',
    '100-200': b'HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n',
    '302': b'HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1/thanks?id=42\r\nContent-Length: 0\r\n\r\n',
    '302-noloc': b'HTTP/1.1 302 Found\r\nContent-Length: 0\r\n\r\n',
    '500': b'HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n',
    'garbage': b'\x00\x01\x02 nonsense without any status\r\n\r\n',
}

def read_until_closed(conn, limit=10.0):
    conn.settimeout(limit)
    extra = 0
    try:
        while True:
            chunk = conn.recv(65536)
            if not chunk: break
            extra += len(chunk)
    except OSError:
        pass
    return extra

def handle(conn):
    conn.settimeout(10)
    data = b''
    while b'\r\n\r\n' not in data and len(data) < 65536:
        chunk = conn.recv(4096)
        if not chunk: return
        data += chunk
    head, _, body = data.partition(b'\r\n\r\n')
    lines = head.split(b'\r\n')
    parts = lines[0].split(b' ')
    answer, case = parts[1].decode().strip('/').split('/')[-2:]
    headers = {}
    for line in lines[1:]:
        k, _, v = line.partition(b':')
        headers[k.decode().lower()] = v.strip().decode('latin-1')
    length = int(headers.get('content-length', '0'))
    while len(body) < length:
        chunk = conn.recv(min(65536, length - len(body)))
        if not chunk: break
        body += chunk
    extra_in_first_read = max(0, len(body) - length)
    body, early = body[:length], body[length:]
    folder = os.path.join(out_dir, case)
    os.makedirs(folder, exist_ok=True)
    open(os.path.join(folder, 'request.txt'), 'wb').write(head + b'\r\n')
    open(os.path.join(folder, 'body.bin'), 'wb').write(body)
    environ = {'REQUEST_METHOD': 'POST', 'CONTENT_TYPE': headers.get('content-type', ''),
               'CONTENT_LENGTH': str(len(body)), 'wsgi.input': io.BytesIO(body)}
    _, form, files = parse_form_data(environ)
    for name in form:
        open(os.path.join(folder, 'field-' + name), 'wb').write(form[name].encode('utf-8'))
    for name in files:
        f = files[name]
        open(os.path.join(folder, 'file-' + name + '.bin'), 'wb').write(f.read())
        open(os.path.join(folder, 'file-' + name + '.name'), 'w').write(f.filename or '')
    if answer == 'slow':
        time.sleep(3)
        reply = ANSWERS['200']
    elif answer == 'close':
        reply = None
    else:
        reply = ANSWERS[answer]
    extra = extra_in_first_read
    try:
        if reply is not None:
            conn.sendall(reply)
            extra += read_until_closed(conn)
    except OSError:
        pass
    conn.close()
    delimiter = b'\r\n--' + headers.get('content-type', '').split('boundary=')[-1].encode() + b'--\r\n'
    stats = 'content_length=%d\nbody_ends_with_delimiter=%d\nextra_after_body=%d\n' % (
        length, int(body.endswith(delimiter) or body == delimiter[2:]), extra)
    open(os.path.join(folder, 'stats.tmp'), 'w').write(stats)
    os.rename(os.path.join(folder, 'stats.tmp'), os.path.join(folder, 'stats.txt'))

server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
server.bind(('127.0.0.1', 0))
server.listen(16)
open(port_file + '.tmp', 'w').write(str(server.getsockname()[1]))
os.rename(port_file + '.tmp', port_file)
while True:
    conn, _ = server.accept()
    threading.Thread(target=handle, args=(conn,), daemon=True).start()
)PY";

inline std::string ReadWhole(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// Waits (bounded) until `p` exists.
inline bool WaitForFile(const std::filesystem::path& p, int seconds = 10) {
  for (int i = 0; i < seconds * 50; ++i) {
    if (std::filesystem::exists(p)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

class UploadServer {
 public:
  static constexpr const char* kPython = "/usr/bin/python3";

  // Empty when the server runs; else why not.
  std::string Start(const std::string& folderName) {
    if (!std::filesystem::exists(kPython)) return "python3 is not installed";
    if (std::system("/usr/bin/python3 -c 'import werkzeug' >/dev/null 2>&1") != 0)
      return "python3-werkzeug is not installed";
    dir_ = rvx::test::OracleFolder(folderName);
    rvx::test::WriteFile(dir_ / "upload_server.py", kUploadServerScript);
    const auto portFile = dir_ / "port";
    if (!process_.Start({kPython, (dir_ / "upload_server.py").string(), (dir_ / "cases").string(), portFile.string()},
                        (dir_ / "server.log").string()))
      return "cannot start the server";
    if (!WaitForFile(portFile)) return "the server did not start; see " + (dir_ / "server.log").string();
    port_ = static_cast<uint16_t>(std::stoi(ReadWhole(portFile)));
    return {};
  }
  uint16_t port() const { return port_; }
  std::filesystem::path Case(const std::string& name) const { return dir_ / "cases" / name; }
  // The server's notes on one case, once it has finished with it.
  std::string Stats(const std::string& name) const {
    return WaitForFile(Case(name) / "stats.txt") ? ReadWhole(Case(name) / "stats.txt") : "(no stats)";
  }

 private:
  ChildProcess process_;
  std::filesystem::path dir_;
  uint16_t port_ = 0;
};

}  // namespace rvxtest
