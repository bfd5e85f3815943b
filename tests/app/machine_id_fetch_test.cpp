// The machine identifier computed beside start-up: off the building thread,
// in the multithreaded apartment, once, with every reader (and the owner's
// end) waiting for it; and the context's reports carrying it.
#include "app/machine_id_fetch.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/install_context.h"

namespace stubframework::app {
namespace {

const wchar_t kId[] = L"P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C";

// What the computations below saw; the function pointer takes no state.
std::atomic<int> g_calls{0};
std::atomic<DWORD> g_thread{0};
std::atomic<int> g_apartment{-1};
std::atomic<bool> g_finished{false};

void ResetSeen() {
  g_calls = 0;
  g_thread = 0;
  g_apartment = -1;
  g_finished = false;
}

std::wstring RecordingCompute() {
  ++g_calls;
  g_thread = ::GetCurrentThreadId();
  APTTYPE type;
  APTTYPEQUALIFIER qualifier;
  g_apartment = SUCCEEDED(::CoGetApartmentType(&type, &qualifier)) ? static_cast<int>(type) : -1;
  return kId;
}

// Long enough that a reader or the owner that did not wait would get there first.
std::wstring SlowCompute() {
  ++g_calls;
  ::Sleep(150);
  g_finished = true;
  return kId;
}

TEST(MachineIdFetchTest, ComputedOnceOffTheBuildingThreadInTheMultithreadedApartment) {
  ResetSeen();
  // The building thread is a single-threaded apartment, as the window's is.
  ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
  {
    MachineIdFetch fetch(RecordingCompute);
    EXPECT_EQ(fetch.Get(), kId);
    EXPECT_EQ(fetch.Get(), kId);
  }
  ::CoUninitialize();
  EXPECT_EQ(g_calls, 1);
  EXPECT_NE(g_thread, ::GetCurrentThreadId()) << "start-up must not wait for the computation";
  EXPECT_EQ(g_apartment, APTTYPE_MTA) << "a thread that pumps no messages must not make a window's apartment";
}

TEST(MachineIdFetchTest, EveryReaderWaitsForTheOneValue) {
  ResetSeen();
  MachineIdFetch fetch(SlowCompute);
  std::vector<std::wstring> seen(4);
  std::vector<std::thread> readers;
  for (std::wstring& value : seen) readers.emplace_back([&fetch, &value] { value = fetch.Get(); });
  for (std::thread& reader : readers) reader.join();
  for (const std::wstring& value : seen) EXPECT_EQ(value, kId);
  EXPECT_EQ(g_calls, 1);
}

TEST(MachineIdFetchTest, TheOwnerEndsOnlyAfterTheComputation) {
  ResetSeen();
  { MachineIdFetch unread(SlowCompute); }
  EXPECT_TRUE(g_finished) << "the thread outlived the object it writes into";
}

TEST(MachineIdFetchTest, TheContextReportsTheFetchedIdentifierInPlaceOfThePlaceholder) {
  const wchar_t base[] = L"HKEY_CURRENT_USER\\SOFTWARE\\BrelvoStubFetchTest\\stubframework";
  ResetSeen();
  {
    SystemFacts facts;
    InstallContext context(facts, L"", base);
    EXPECT_EQ(context.Identity().machine_id, facts.machine_id) << "the placeholder until a fetch is given";
    context.TakeMachineIdFetch(std::make_unique<MachineIdFetch>(SlowCompute));
    EXPECT_EQ(context.Identity().machine_id, kId);
    EXPECT_EQ(context.machine_id(), kId);
  }
  ::RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\BrelvoStubFetchTest");
}

}  // namespace
}  // namespace stubframework::app
