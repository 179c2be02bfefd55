// The stack walker on real compiled code: the walker corpus of the Windows tree in its four builds (-O0 and
// -O2, with and without frame pointers), laid out as images. For the chains that stay inside the program
// (direct calls, a pointer and a virtual call, a recursion of depth 50, a tail call) the test builds the stack
// as the chain leaves it: the return address of every call, with stale code addresses and data words between
// them, and a frame chain in the builds that keep frame pointers. The routines shown must be the chain's, in
// order; a plain frame-pointer walk over the same stack is printed beside as the peer.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "crash/stack/decoder.h"
#include "crash/stack/image_file.h"
#include "crash/stack/stack_trace.h"

namespace {

namespace fs = std::filesystem;
using namespace rvx;

constexpr Address kStack = 0x00200000, kStackSize = 0x4000;

// The image plus one stack block.
class Process : public MemoryReader {
 public:
  Process(const ImageFile& image) : image_(image), stack_(kStackSize, 0) {}
  std::vector<uint8_t>& stack() { return stack_; }
  size_t Fetch(Address a, void* dest, size_t n) const override {
    if (a >= kStack && a - kStack < kStackSize) {
      size_t k = std::min<size_t>(n, kStackSize - (a - kStack));
      std::memcpy(dest, &stack_[a - kStack], k);
      return k;
    }
    return image_.Fetch(a, dest, n);
  }
  bool Query(Address a, RegionInfo& out) const override {
    if (a >= kStack && a - kStack < kStackSize) {
      out = {true, kStack, kStack, kStackSize};
      return true;
    }
    return image_.Query(a, out);
  }
  bool Module(Address a, ModuleInfo& out) const override { return image_.Module(a, out); }

 private:
  const ImageFile& image_;
  std::vector<uint8_t> stack_;
};

struct Symbols {
  std::map<Address, std::string> byAddress;  // routine starts (".cold" parts under their routine's name)
  std::map<std::string, Address> byName;
  std::string NameAt(Address a) const {
    auto it = byAddress.upper_bound(a);
    return it == byAddress.begin() ? std::string() : std::prev(it)->second;
  }
};

std::string Short(std::string name) {
  if (auto p = name.find('('); p != std::string::npos) name.resize(p);
  if (name.rfind("corpus::", 0) == 0) name.erase(0, 8);
  if (auto p = name.find(".cold"); p != std::string::npos) name.resize(p);
  return name;
}

Symbols ReadSymbols(const std::string& exe) {
  Symbols s;
  std::string list = (fs::temp_directory_path() / (fs::path(exe).filename().string() + ".nm")).string();
  std::string cmd = "i686-w64-mingw32-nm -n -C '" + exe + "' > '" + list + "' 2>/dev/null";
  if (std::system(cmd.c_str()) != 0) return s;
  std::ifstream in(list);
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() < 12 || (line[9] != 't' && line[9] != 'T')) continue;
    std::string name = line.substr(11);
    if (name.empty() || name[0] == '.') continue;
    Address a = static_cast<Address>(std::stoul(line.substr(0, 8), nullptr, 16));
    s.byAddress[a] = Short(name);
    if (!s.byName.count(Short(name))) s.byName[Short(name)] = a;
  }
  return s;
}

// The return address of the call in `caller` that reaches `callee` (directly, or the first indirect call
// when callee is 0); 0 when there is none.
Address CallIn(const ImageFile& image, const Symbols& s, const std::string& caller, const std::string& callee) {
  auto it = s.byName.find(caller);
  if (it == s.byName.end()) return 0;
  Address target = callee.empty() ? 0 : s.byName.at(callee);
  for (Address a = it->second; a < it->second + 0x400 && s.NameAt(a) == caller;) {
    InstructionInfo info;
    DecodedInstruction d;
    DecodeDetailed(image, a, d);
    info = d.info;
    if (d.length == 0) break;
    if (info.isCall && (callee.empty() ? !info.targetIsRelative : info.target == target))
      return info.nextInstruction;
    a = info.nextInstruction;
  }
  return 0;
}

// The first instruction of Fault that writes memory: where the chains fault.
Address FaultSite(const ImageFile& image, const Symbols& s) {
  Address f = s.byName.at("Fault");
  for (Address a = f; a < f + 0x40;) {
    DecodedInstruction d;
    DecodeDetailed(image, a, d);
    if (d.info.opcode == 0x89 && d.IsMemory()) return a;
    if (!d.length) break;
    a = d.info.nextInstruction;
  }
  return f;
}

struct Chain {
  const char* name;
  // From the outermost call inward: (caller, callee) pairs; callee "" = an indirect call.
  std::vector<std::pair<const char*, const char*>> calls;
  std::vector<std::string> expected;  // routines shown, innermost first (consecutive repeats collapsed)
};

std::vector<std::string> Collapse(const std::vector<std::string>& v) {
  std::vector<std::string> out;
  for (const auto& x : v)
    if (out.empty() || out.back() != x) out.push_back(x);
  return out;
}

TEST(StackWalkerRealCode, CorpusChainsInEveryBuild) {
  std::vector<std::string> variants = {"O0_fp", "O0_nofp", "O2_fp", "O2_nofp"};
  std::string dir;
  std::error_code ec;
  for (const char* d : {"../../win32/bin", "../win32/bin"})
    if (fs::exists(std::string(d) + "/walker_corpus_O0_fp.exe", ec)) dir = d;
  if (dir.empty()) GTEST_SKIP() << "the Windows tree has not been built";
  std::vector<Chain> chains = {
      {"direct",
       {{"Root", "Direct1"}, {"Direct1", "Direct2"}, {"Direct2", "Direct3"}, {"Direct3", "Direct4"},
        {"Direct4", "Direct5"}, {"Direct5", "Direct6"}, {"Direct6", "Fault"}},
       {"Fault", "Direct6", "Direct5", "Direct4", "Direct3", "Direct2", "Direct1", "Root"}},
      {"pointer+virtual",
       {{"Root", "Pointer1"}, {"Pointer1", ""}, {"Virtual2", ""}, {"Square::Draw", "Fault"}},
       {"Fault", "Square::Draw", "Virtual2", "Pointer1", "Root"}},
      {"tail-call", {{"Root", "Tail1"}, {"Tail1", "Tail2"}, {"Tail2", "Fault"}}, {"Fault", "Tail2", "Tail1", "Root"}},
  };
  Chain recursion{"recursion50", {{"Root", "Recurse"}}, {"Fault", "Recurse", "Root"}};
  for (int i = 0; i < 50; ++i) recursion.calls.push_back({"Recurse", "Recurse"});
  recursion.calls.push_back({"Recurse", "Fault"});
  chains.push_back(recursion);

  std::ostringstream table;
  int missed = 0;
  for (const std::string& v : variants) {
    std::string exe = dir + "/walker_corpus_" + v + ".exe";
    std::ifstream f(exe, std::ios::binary);
    std::stringstream bytes;
    bytes << f.rdbuf();
    ImageFile image;
    std::string error;
    ASSERT_TRUE(image.Load(bytes.str(), "C:\\corpus\\walker_corpus.exe", error)) << error;
    Symbols s = ReadSymbols(exe);
    ASSERT_TRUE(s.byName.count("Fault")) << exe;
    auto map = std::make_shared<TMapFile>();
    map->valid = true;
    for (auto& [a, name] : s.byAddress) map->publics.push_back({true, true, name, a});
    map->segments.push_back({true, true, s.byAddress.begin()->first, 0x100000, "corpus", 0});
    const bool framed = v.find("nofp") == std::string::npos;
    for (const Chain& c : chains) {
      Process p(image);
      std::mt19937 random(7);
      // Outermost first: each call's return address, a saved frame pointer in framed builds, then locals:
      // data words and now and then a stale code address that follows a call.
      std::vector<Address> returns;
      for (auto [caller, callee] : c.calls) {
        std::string target = callee;
        if (target.empty()) target = std::string(caller) == "Pointer1" ? "Virtual2" : "Square::Draw";
        Address r = CallIn(image, s, caller, callee);
        if (!r && std::string(caller) == "Tail2") continue;  // a tail call leaves no return address
        ASSERT_NE(r, 0u) << v << " " << caller << " -> " << (callee[0] ? callee : "(indirect)");
        returns.push_back(r);
      }
      Address at = kStack + kStackSize;
      Address ebp = 0;
      auto push = [&](uint32_t w) {
        at -= 4;
        std::memcpy(&p.stack()[at - kStack], &w, 4);
      };
      for (size_t i = 0; i < returns.size(); ++i) {
        push(returns[i]);
        if (framed) {
          push(ebp);
          ebp = at;
        }
        for (int k = 0; k < 3; ++k) {
          uint32_t junk = random();
          if (k == 1 && i % 2) junk = CallIn(image, s, "Throw2", "Throw3");  // stale, not on this chain
          push(junk);
        }
      }
      TraceOptions o;
      o.stackBottom = at;
      o.stackTop = kStack + kStackSize;
      o.ebp = framed ? ebp : 0;
      o.isException = o.externalException = true;
      o.currentAddress = FaultSite(image, s);
      WalkerEnvironment env;
      env.memory = &p;
      env.mainModule = image.base();
      env.symbols = [&](Address, const std::string&) -> std::shared_ptr<const TMapFile> { return map; };
      TStackWalker walker(env);
      auto t0 = std::chrono::steady_clock::now();
      TraceResult r = walker.Trace(o);
      auto t1 = std::chrono::steady_clock::now();
      walker.Trace(o);
      auto t2 = std::chrono::steady_clock::now();
      std::vector<std::string> shown;
      for (const TStackItem& item : r.items) shown.push_back(s.NameAt(item.address));
      // Only the chain up to its root counts.
      auto root = std::find(shown.begin(), shown.end(), "Root");
      if (root != shown.end()) shown.erase(root + 1, shown.end());
      std::vector<std::string> expected = c.expected;
      if (std::string(c.name) == "tail-call" && v.find("O2") != std::string::npos)
        expected.erase(std::find(expected.begin(), expected.end(), "Tail2"));
      bool ok = Collapse(shown) == expected;
      missed += !ok;
      // The peer: a plain frame-pointer walk over the same stack.
      int peer = 0;
      for (Address e = o.ebp; e >= at && e + 8 <= kStack + kStackSize && peer < 64; ++peer) {
        uint32_t frame[2];
        p.Fetch(e, frame, 8);
        if (frame[0] <= e) {
          ++peer;
          break;
        }
        e = frame[0];
      }
      table << v << " " << c.name << ": ours " << (ok ? "exact" : "MISSED") << " (" << Collapse(shown).size() << " of "
            << expected.size() << " routines), frame-pointer walk " << peer << " frames; "
            << std::chrono::duration<double, std::milli>(t1 - t0).count() << " ms, again "
            << std::chrono::duration<double, std::milli>(t2 - t1).count() << " ms\n";
      if (!ok) {
        for (const auto& n : shown) table << "    " << n << "\n";
        table << r.text << "\n";
      }
    }
  }
  std::cout << table.str();
  EXPECT_EQ(missed, 0) << table.str();
}

}  // namespace
