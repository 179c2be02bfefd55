// What the thread hooks of the Windows layer share between their units: the guarded run of a thread's
// body, the framework's thread objects, and modules loaded after start-up. Windows only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rvx {

// Runs body(data) as the body of a thread or work item: a C++ exception or processor fault it lets out is
// handed to the pipeline with the source and the related object, and the result is false.
bool RunGuardedThreadBody(void (*body)(void*), void* data, uint8_t source, void* relatedObject);
// Marks the calling thread as running under a thread entry or work-item wrapper (its failures are the
// thread's, source 16); returns the previous mark.
bool SetWrappedThread(bool wrapped);

// ---- thread creation and work items (thread_hooks_win.cpp) ----------------------------------------------

// Wraps thread creation where every caller reaches it (the system's internal call of CreateRemoteThreadEx or
// CreateRemoteThread, else CreateThread in the import tables) and work items (QueueUserWorkItem in the import
// tables). The patches are undone with all others.
void InstallThreadHooks();
// Whether thread creation is wrapped inside the system (rather than in the import tables).
bool ThreadCreationRedirected();
// Starts a thread of this process without the thread entry wrapper (the crash reporter's own helpers).
void* CreateUnwrappedThread(unsigned long(__stdcall* start)(void*), void* parameter, uint32_t stackSize);

// ---- the framework's thread objects (thread_object_hooks_win.cpp) -------------------------------------

// Looks at the parameter of a thread being created: when it is a framework thread object, the execute
// routine of its class is routed through the execute wrapper (once per class) and true is returned with
// the class name.
bool PrepareThreadObject(void* parameter, std::string& className);
// Forgets the wrapped classes (their patches are undone with all others).
void ResetThreadObjectHooks();

// ---- modules loaded after start-up (module_load_hooks_win.cpp) ----------------------------------------

// The loaded modules of the process whose import tables the crash reporter patches (the system's own
// kernel libraries left out).
std::vector<uintptr_t> PatchableModules();
// An import replacement that every module loaded from now on receives too.
void AddLoadedModuleReplacement(const void* original, const void* replacement);
// Replaces the library loading routines in the import tables of every module: after each load, the
// registered replacements are applied to the modules that arrived.
void InstallModuleLoadHooks();
void RemoveModuleLoadHooks();
// Applies the registered replacements to every module; returns the number of slots patched.
int PatchLoadedModules();

}  // namespace rvx
