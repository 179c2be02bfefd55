// Module image helpers: PE headers, data directories and export tables of loaded images, the module that
// owns an address, file versions, routine-name demangling, resources, tick differences, the per-thread hidden
// message window with its handlers and method thunks.
//
// The image parsing works over a MemoryReader so that it runs on a live process as well as on a PE file
// laid out as an image; the operations without a reader argument are the process's own (Windows only).
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "crash/stack/memory_reader.h"

namespace rvx {

// ---- Image access over any memory ----

constexpr uint16_t kDosMagic = 0x5A4D;
constexpr uint32_t kPeSignature = 0x4550;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;

// Address of the NT headers of the image at module, or 0.
Address PeNtHeaders(const MemoryReader& memory, Address module);
// module + VirtualAddress of a data directory entry (size optional), or 0.
Address PeDataDirectory(const MemoryReader& memory, Address module, int index, uint32_t* size = nullptr);
Address PeExportDirectory(const MemoryReader& memory, Address module, uint32_t* size = nullptr);
uint32_t PeImageSize(const MemoryReader& memory, Address ntHeaders);
// SizeOfImage of the image at module, 0 when it is none.
uint32_t ImageSizeOf(const MemoryReader& memory, Address module);
uint16_t PeOptionalMagic(const MemoryReader& memory, Address ntHeaders);
uint32_t PeRvaToFileOffset(const MemoryReader& memory, Address ntHeaders, uint32_t rva);

struct SectionHeader {
  std::string name;
  uint32_t virtualAddress = 0, virtualSize = 0, rawOffset = 0, rawSize = 0, characteristics = 0;
};
constexpr uint32_t kSectionCode = 0x20, kSectionExecute = 0x20000000, kSectionRead = 0x40000000;
// The section table (taken to follow a standard-size optional header).
std::vector<SectionHeader> PeSections(const MemoryReader& memory, Address ntHeaders);

// The export directory's fields.
struct ExportDirectory {
  Address address = 0;  // module + RVA of the directory
  uint32_t size = 0;
  uint32_t base = 0, numberOfFunctions = 0, numberOfNames = 0;
  uint32_t addressOfFunctions = 0, addressOfNames = 0, addressOfNameOrdinals = 0;
};
bool ReadExportDirectory(const MemoryReader& memory, Address module, ExportDirectory& out);

// The name of the export whose function entry is exactly address ("#12" for one without a name), empty when
// none; with demangle the name is turned into unit + "." + routine when it can be demangled.
std::string ExportNameAt(const MemoryReader& memory, Address module, Address address, bool demangle);

struct ExportEntry {
  uint32_t ordinal = 0;
  std::string name;     // empty when exported by ordinal only
  uint32_t rva = 0;
  std::string forwarder;  // "module.function" when the entry is a forwarder
};
std::vector<ExportEntry> ListExports(const MemoryReader& memory, Address module);

// What export resolution needs from the system around the image.
struct ExportEnvironment {
  // The module's file on disk (for the cross-check); false when it cannot be read.
  std::function<bool(Address module, std::string& bytes)> moduleFile;
  // A loaded module by name (never loads one); 0 when not loaded.
  std::function<Address(const std::string& name)> loadedModule;
  // The system's own lookup, by name (ordinal 0) or by ordinal; 0 when it fails.
  std::function<Address(Address module, const std::string& name, uint32_t ordinal)> procAddress;
};

Address ResolveForwarder(const MemoryReader& memory, Address module, uint32_t rva, const ExportEnvironment& env);
Address ResolveExportByName(const MemoryReader& memory, Address module, const std::string& name, bool verify,
                            const ExportEnvironment& env);
Address ResolveExportByOrdinal(const MemoryReader& memory, Address module, uint32_t ordinal,
                               const ExportEnvironment& env);

// ---- Texts ----

// Major.minor.release.build from the two version dwords.
std::string FileVersionText(uint32_t mostSignificant, uint32_t leastSignificant);
// Demangles a routine name in place. "@Unit@Class@Method$qqr..." gives unit "Unit" and "Class.Method";
// names of our own compiler ("_Z...") give the qualified name with "." between the parts and no unit.
bool DemangleName(std::string& name, std::string& unit);
// Milliseconds from start to now on the wrapping 32-bit tick counter.
uint32_t TicksBetween(uint32_t start, uint32_t now);

#ifdef _WIN32
// ---- The running process ----
using ModuleHandle = Address;

Address PeNtHeaders(ModuleHandle module);
Address PeDataDirectory(ModuleHandle module, int index);
Address PeExportDirectory(ModuleHandle module);
uint32_t PeImageSize(Address ntHeaders);
uint32_t PeRvaToFileOffset(Address ntHeaders, uint32_t rva);
// A read-only view of the module's whole file; the caller unmaps it with UnmapModuleFile. nullptr on failure.
const void* MapModuleFile(ModuleHandle module, size_t* size = nullptr);
void UnmapModuleFile(const void* view);
Address ResolveForwarder(ModuleHandle module, uint32_t rva);
Address ResolveExportByName(ModuleHandle module, const char* name, bool verify);
Address ResolveExportByOrdinal(ModuleHandle module, uint32_t ordinal);
std::string ExportNameAt(ModuleHandle module, Address address, bool demangle);
std::wstring ExportNameAtW(ModuleHandle module, Address address, bool demangle);
bool ModuleFromAddress(Address address, ModuleHandle& module, std::string& fileName);
bool IsReadable(Address address, uint32_t count);
std::string FileVersionOf(const std::string& fileName);
std::wstring FileVersionOfW(const std::wstring& fileName);
// Integer resource types and names are passed as MAKEINTRESOURCE values.
std::string ResourceText(ModuleHandle module, const wchar_t* type, const wchar_t* name);
uint32_t TicksSince(uint32_t startTick);
uint16_t FreeSystemResourcesPercent(uint16_t kind);

// Hidden per-thread message window and its handlers.
using MessageProc = void (*)(void* window, uint32_t message, uintptr_t wParam, intptr_t lParam, intptr_t& result);
using MessageMethod = void (*)(void* object, void* window, uint32_t message, uintptr_t wParam, intptr_t lParam,
                               intptr_t& result);
struct MessageHandler {
  MessageProc proc = nullptr;
  MessageMethod methodCode = nullptr;
  void* methodObject = nullptr;
};
void* ThreadMessageWindow(uint32_t threadId = 0);
uint32_t AddThreadMessageHandler(const MessageHandler& handler, uint32_t message = 0, uint32_t threadId = 0);
void RemoveThreadMessageHandler(const MessageHandler& handler, uint32_t message = 0, uint32_t threadId = 0);
void AllowMessageThroughFilter(void* window, uint32_t message);
// A 17-byte stub that calls code with object inserted as its first stack argument.
void* MethodThunk(void* object, void* code);

// The process's export environment (file mapping, GetModuleHandleA, GetProcAddress).
const ExportEnvironment& ProcessExportEnvironment();
#endif

}  // namespace rvx
