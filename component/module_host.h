// What the component needs of the module that serves it: the lock that keeps the module loaded
// while an object lives, the termination list that runs at unload, the lock around the shared
// type information, and whether the hosting browser runs in its protected mode. The server
// provides it when the module loads; the component never reaches up into the server itself.
#pragma once

#include <windows.h>

namespace quillbox {

using TermFunc = void (*)(DWORD_PTR argument);

struct ModuleHost {
  virtual LONG Lock() = 0;
  virtual LONG Unlock() = 0;
  // Puts a clean-up at the head of the termination list; nothing is added if memory runs out.
  virtual void AddTermFunc(TermFunc function, DWORD_PTR argument) = 0;
  virtual CRITICAL_SECTION* TypeInfoLock() = 0;
  // Asked afresh on every call; never fails and records no error.
  virtual bool IsProtectedMode() = 0;
};

// Set by the server before any object is made; `host` lives as long as the module.
void ConnectModuleHost(ModuleHost& host);
// The connected host. A program that makes objects without the server's host connected is a
// build fault: it stops with a message rather than run objects that keep no module lock.
ModuleHost& TheModuleHost();

}  // namespace quillbox
