// Apartment rules of CoInitializeEx and CoUninitialize, each case on a thread of its own so that
// the thread starts outside any apartment.
#include "platform/ole32/fake_server.h"
#include "support/temp_registry.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <thread>

namespace quillbox::test {
namespace {

template <typename Body>
void OnNewThread(Body body) {
  std::thread thread(body);
  thread.join();
}

TEST(Apartments, RepeatedEntrySaysFalseAndAnotherModelIsRefused) {
  OnNewThread([] {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    CoUninitialize();
    // Fully left: a new model is fine now.
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    CoUninitialize();
  });
}

TEST(Apartments, BadArgumentsAreRefused) {
  OnNewThread([] {
    int reserved = 0;
    EXPECT_EQ(CoInitializeEx(&reserved, COINIT_APARTMENTTHREADED), E_INVALIDARG);
    EXPECT_EQ(CoInitializeEx(nullptr, 0x100), E_INVALIDARG);
    CoUninitialize();  // not entered: does nothing
  });
}

TEST(Apartments, ActivationNeedsAnApartment) {
  TempRegistry registry;
  OnNewThread([] {
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(kFakeServerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              CO_E_NOTINITIALIZED);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoCreateInstance(kFakeServerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG);
    CoUninitialize();
    EXPECT_EQ(CoCreateInstance(kFakeServerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              CO_E_NOTINITIALIZED);
  });
}

TEST(Apartments, TheMultithreadedApartmentTakesInEveryThread) {
  TempRegistry registry;
  OnNewThread([] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    OnNewThread([] {
      void* object = nullptr;
      EXPECT_EQ(CoCreateInstance(kFakeServerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
                REGDB_E_CLASSNOTREG);  // past the apartment check
    });
    CoUninitialize();
    OnNewThread([] {
      void* object = nullptr;
      EXPECT_EQ(CoCreateInstance(kFakeServerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
                CO_E_NOTINITIALIZED);
    });
  });
}

}  // namespace
}  // namespace quillbox::test
