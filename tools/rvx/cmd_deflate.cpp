// rvx deflate / inflate / crc32 / zip: the compression unit from the command line.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "crash/delivery/deflate.h"
#include "crash/delivery/zip.h"
#include "crash/stack/text.h"
#include "tools/rvx/command.h"

namespace rvxtool {
namespace {

constexpr int32_t kMaxFileSize = 0x70000000;

bool ReadInput(const std::string& path, std::string& data, int& code) {
  std::string error;
  if (!ReadFileBytes(path, data, error)) {
    code = Fail(error);
    return false;
  }
  if (data.size() > static_cast<size_t>(kMaxFileSize)) {
    code = Fail("'" + path + "' is too large (at most " + std::to_string(kMaxFileSize) + " bytes)");
    return false;
  }
  return true;
}

int Deflate(const Args& args) {
  if (args.size() != 2) return UsageError("deflate needs IN and OUT");
  std::string data;
  int code = 0;
  if (!ReadInput(args[0], data, code)) return code;
  const auto length = static_cast<int32_t>(data.size());
  std::string packed(static_cast<size_t>(rvx::DeflateCapacity(length)), '\0');
  const int32_t n = rvx::DeflateBuffer(data.data(), packed.data(), length, static_cast<int32_t>(packed.size()));
  if (n <= 0) return Fail("cannot compress '" + args[0] + "'");
  packed.resize(static_cast<size_t>(n));
  std::string error;
  if (!WriteFileBytes(args[1], packed, error)) return Fail(error);
  std::printf("%s: %d bytes -> %d bytes of raw deflate data\n", args[0].c_str(), length, n);
  return 0;
}

int Inflate(const Args& args) {
  if (args.size() != 3) return UsageError("inflate needs IN, OUT and LENGTH");
  const std::string& text = args[2];
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos ||
      std::stoll(text) > kMaxFileSize)
    return UsageError("LENGTH must be a byte count from 0 to " + std::to_string(kMaxFileSize) + ", not '" + text + "'");
  const auto length = static_cast<int32_t>(std::stoll(text));
  std::string packed;
  int code = 0;
  if (!ReadInput(args[0], packed, code)) return code;
  std::string data(static_cast<size_t>(length), '\0');
  if (!rvx::InflateExact(packed.data(), static_cast<int32_t>(packed.size()), data.data(), length))
    return Fail("'" + args[0] + "' is not a raw deflate stream of exactly " + text + " bytes");
  std::string error;
  if (!WriteFileBytes(args[1], data, error)) return Fail(error);
  return 0;
}

int Crc32(const Args& args) {
  if (args.size() != 1) return UsageError("crc32 needs one FILE");
  std::string data;
  int code = 0;
  if (!ReadInput(args[0], data, code)) return code;
  std::printf("%08x\n", rvx::Crc32Of(data));
  return 0;
}

bool Readable(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec) && std::ifstream(path, std::ios::binary).good();
}

int Zip(const Args& args) {
  if (args.size() < 2) return UsageError("zip needs ARCHIVE and at least one FILE");
  std::vector<std::wstring> sources, names;
  for (size_t i = 1; i < args.size(); ++i) {
    // FILE=NAME, unless the whole argument names an existing file.
    std::string file = args[i];
    std::string name;
    const size_t eq = file.find('=');
    if (eq != std::string::npos && !Readable(file)) {
      name = file.substr(eq + 1);
      file.resize(eq);
      if (name.empty()) return UsageError("empty entry name in '" + args[i] + "'");
    }
    if (file.empty()) return UsageError("empty file name in '" + args[i] + "'");
    if (!Readable(file)) return Fail("cannot read '" + file + "'");
    if (name.empty()) name = file.substr(file.find_last_of("/\\") == std::string::npos ? 0 : file.find_last_of("/\\") + 1);
    sources.push_back(rvx::DecodeUtf8Text(file));
    names.push_back(rvx::DecodeUtf8Text(name));
  }
  if (!rvx::ZipFiles(rvx::DecodeUtf8Text(args[0]), sources, names)) return Fail("cannot write the archive '" + args[0] + "'");
  std::printf("%s: %zu file(s)\n", args[0].c_str(), sources.size());
  return 0;
}

const RvxCommand kDeflate("deflate", "  rvx deflate IN OUT            compress a file into raw deflate data", Deflate);
const RvxCommand kInflate("inflate",
                          "  rvx inflate IN OUT LENGTH     unpack raw deflate data of exactly LENGTH bytes", Inflate);
const RvxCommand kCrc32("crc32", "  rvx crc32 FILE                print the CRC-32 of a file (8 hex digits)", Crc32);
const RvxCommand kZip("zip",
                      "  rvx zip ARCHIVE FILE[=NAME]...  write a zip archive; NAME is the entry name (default: the "
                      "file name)",
                      Zip);

}  // namespace
}  // namespace rvxtool
