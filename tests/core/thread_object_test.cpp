// Recognising framework thread objects in memory laid out as a 32-bit program lays out its objects, virtual
// tables and type information; the execute stub's bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "crash/core/thread_object.h"

namespace {

using rvx::Address;

// A 32-bit address space in one buffer: objects, virtual tables, type information and names.
class Image {
 public:
  Address Put(const std::vector<uint32_t>& words) {
    Address at = End();
    for (uint32_t w : words) {
      uint8_t b[4];
      std::memcpy(b, &w, 4);
      bytes_.insert(bytes_.end(), b, b + 4);
    }
    return at;
  }
  Address Text(const std::string& s) {
    Address at = End();
    bytes_.insert(bytes_.end(), s.begin(), s.end());
    bytes_.push_back(0);
    while (bytes_.size() % 4) bytes_.push_back(0);
    return at;
  }
  void Set(Address at, uint32_t value) { std::memcpy(&bytes_[at - kBase], &value, 4); }
  // The virtual table of a type information object of the runtime's kind `kind`.
  Address MetaTable(const std::string& kind) {
    Address info = Put({0, Text(kind)});
    return Put({info, 0}) + 4;
  }
  Address ClassType(const std::string& name) { return Put({classTable_, Text(name)}); }
  Address SingleBase(const std::string& name, Address base) { return Put({singleTable_, Text(name), base}); }
  Address MultipleBases(const std::string& name, const std::vector<Address>& bases) {
    Address at = Put({multipleTable_, Text(name), 0, static_cast<uint32_t>(bases.size())});
    for (Address b : bases) Put({b, 0});
    return at;
  }
  Address Object(Address typeInfo) { return Put({Put({typeInfo, 0x401000}) + 4}); }
  rvx::BufferReader Reader() const { return rvx::BufferReader(kBase, bytes_.data(), bytes_.size()); }

  static constexpr Address kBase = 0x10000;

 private:
  Address End() const { return kBase + static_cast<Address>(bytes_.size()); }
  std::vector<uint8_t> bytes_;
  Address classTable_ = MetaTable("N10__cxxabiv117__class_type_infoE");
  Address singleTable_ = MetaTable("N10__cxxabiv120__si_class_type_infoE");
  Address multipleTable_ = MetaTable("N10__cxxabiv121__vmi_class_type_infoE");
};

TEST(ThreadObject, DerivedClassesOfTheFrameworkThreadAreRecognised) {
  Image m;
  Address thread = m.ClassType("N2fw7TThreadE");
  Address lab = m.SingleBase("*N12_GLOBAL__N_110TLabThreadE", thread);
  Address worker = m.SingleBase("7TWorker", lab);
  Address obj = m.Object(worker);
  Address plain = m.Object(m.ClassType("N2fw10TComponentE"));
  Address lookalike1 = m.Object(m.ClassType("8TThreadX"));
  Address lookalike2 = m.Object(m.ClassType("N7TThread4PoolE"));
  Address direct = m.Object(thread);
  // TThread as the second of two bases.
  Address other = m.ClassType("N2fw10TComponentE");
  Address both = m.Object(m.MultipleBases("6TMixed", {other, thread}));
  auto r = m.Reader();

  std::string cls;
  EXPECT_TRUE(rvx::IsThreadObject(r, obj, &cls));
  EXPECT_EQ(cls, "TWorker");
  EXPECT_EQ(rvx::ObjectClassNames(r, obj),
            (std::vector<std::string>{"TWorker", "TLabThread", "fw::TThread"}));
  EXPECT_TRUE(rvx::IsThreadObject(r, direct, &cls));
  EXPECT_EQ(cls, "fw::TThread");
  EXPECT_TRUE(rvx::IsThreadObject(r, both, &cls));
  EXPECT_EQ(cls, "TMixed");
  EXPECT_FALSE(rvx::IsThreadObject(r, plain));
  // Names that only contain the word do not count.
  EXPECT_FALSE(rvx::IsThreadObject(r, lookalike1));
  EXPECT_FALSE(rvx::IsThreadObject(r, lookalike2));
}

TEST(ThreadObject, AncestorsBeyondFifteenAreNotLookedAt) {
  Image m;
  Address type = m.ClassType("N2fw7TThreadE");
  for (int i = 0; i < 14; ++i) type = m.SingleBase("6TLevel", type);
  Address at15 = m.SingleBase("7TBottom", type);  // TThread is its 15th ancestor
  Address at16 = m.SingleBase("7TBelow_", at15);
  Address o15 = m.Object(at15), o16 = m.Object(at16);
  auto r = m.Reader();  // (made last: the buffer may move while it grows)
  EXPECT_TRUE(rvx::IsThreadObject(r, o15));
  EXPECT_FALSE(rvx::IsThreadObject(r, o16));
}

TEST(ThreadObject, ParametersThatAreNoObjectsAreNotThreadObjects) {
  Image m;
  Address thread = m.ClassType("N2fw7TThreadE");
  Address good = m.Object(thread);
  // A pointer to a pointer to plain data, and one whose "type information" has a foreign virtual table.
  Address data = m.Put({7, 8, 9});
  Address fake = m.Put({m.Put({thread + 8, 0}) + 4});
  Address name = m.Text("N2fw7TThreadE");
  Address foreignInfo = m.Put({m.Put({m.Put({0, m.Text("N3std9type_infoE")}), 0}) + 4, name});
  Address foreign = m.Object(foreignInfo);
  Address toData = m.Put({data});
  auto r = m.Reader();
  ASSERT_TRUE(rvx::IsThreadObject(r, good));
  EXPECT_FALSE(rvx::IsThreadObject(r, 0));
  EXPECT_FALSE(rvx::IsThreadObject(r, 1234));          // a plain number
  EXPECT_FALSE(rvx::IsThreadObject(r, good + 0x1000));  // beyond the memory
  EXPECT_FALSE(rvx::IsThreadObject(r, toData));
  EXPECT_FALSE(rvx::IsThreadObject(r, fake));
  EXPECT_FALSE(rvx::IsThreadObject(r, foreign));
}

TEST(ThreadObject, BasesThatLoopOrCountWildlyEndTheWalk) {
  Image m;
  Address a = m.SingleBase("1A", 0);
  Address b = m.SingleBase("1B", a);
  m.Set(a + 8, b);  // A's base is B, B's base is A
  Address wild = m.Put({0, 0, 0, 0xFFFFFFFF});
  Address meta = m.MetaTable("N10__cxxabiv121__vmi_class_type_infoE");
  m.Set(wild, meta);
  m.Set(wild + 4, m.Text("4Wild"));
  Address looping = m.Object(a), wildObject = m.Object(wild);
  auto r = m.Reader();
  EXPECT_EQ(rvx::ObjectClassNames(r, looping), (std::vector<std::string>{"A", "B"}));
  EXPECT_FALSE(rvx::IsThreadObject(r, wildObject));
  // Whatever follows the entry is read as base entries, at most as many as can be listed.
  auto names = rvx::ObjectClassNames(r, wildObject);
  ASSERT_FALSE(names.empty());
  EXPECT_EQ(names.front(), "Wild");
  EXPECT_LE(names.size(), 16u);
}

TEST(ThreadObject, UnqualifiedNames) {
  EXPECT_EQ(rvx::UnqualifiedName("fw::TThread"), "TThread");
  EXPECT_EQ(rvx::UnqualifiedName("TThread"), "TThread");
  EXPECT_EQ(rvx::UnqualifiedName("a::b<c::d>::TThread"), "TThread");
  EXPECT_EQ(rvx::UnqualifiedName("a::TList<c::TThread>"), "TList<c::TThread>");
}

TEST(ExecuteStub, CarriesTheOriginalRoutineAndJumpsToTheWrapper) {
  auto stub = rvx::MakeExecuteStub(0x00401234, 0x00502000);
  const uint8_t expected[12] = {0xBA, 0x34, 0x12, 0x40, 0x00, 0xB8, 0x00, 0x20, 0x50, 0x00, 0xFF, 0xE0};
  EXPECT_EQ(std::memcmp(stub.data(), expected, 12), 0);
  Address original = 0;
  EXPECT_TRUE(rvx::IsExecuteStub(stub.data(), stub.size(), &original));
  EXPECT_EQ(original, 0x00401234u);
  EXPECT_FALSE(rvx::IsExecuteStub(stub.data(), 11));
  const uint8_t prologue[12] = {0x55, 0x89, 0xE5, 0x83, 0xEC, 0x18, 0x8B, 0x45, 0x08, 0x89, 0x04, 0x24};
  EXPECT_FALSE(rvx::IsExecuteStub(prologue, 12));
}

}  // namespace
