// What the stand-in selection dialogs record about the last request they were given.
#pragma once

#include <windows.h>
#include <cryptdlg.h>

#include <string>

struct FakeRequestRecord {
  int calls = 0;
  CERT_SELECT_STRUCT_A request{};
  std::string title;
  std::string helpFile;
  bool helpFileNull = true;
  HCERTSTORE firstStore = nullptr;
  PCCERT_CONTEXT firstPreset = nullptr;
};

using FakeLastRequestFn = const FakeRequestRecord* (*)();
