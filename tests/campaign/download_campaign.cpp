// One slice of the long fault campaign (scripts/long_campaign.py runs the
// slices and adds them up):
//
//   download_campaign --seed S --first I --count N --out FILE [--child EXE]
//
// Appends to FILE, flushed line by line, {"start":i} before download i and its
// outcome after it, so that a slice that dies shows which download it died
// in; a download that hangs after its stop appends {"hang":i,...} and ends the
// process with exit code 3. The last line gives the process's peak memory.
// The test servers come from STUB_TEST_SERVERS, as in the tests.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "campaign/campaign.h"

namespace campaign = testsupport::campaign;

namespace {

FILE* g_out = nullptr;

void WriteLine(const std::string& line) {
  fprintf(g_out, "%s\n", line.c_str());
  fflush(g_out);
}

}  // namespace

int main(int argc, char** argv) {
  unsigned seed = 0;
  int first = 0;
  int count = 0;
  const char* out_path = nullptr;
  std::wstring child = testsupport::WindowsPathOf(STUB_VERIFIED_CHILD);
  for (int i = 1; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--seed") == 0) seed = static_cast<unsigned>(strtoul(argv[i + 1], nullptr, 10));
    if (strcmp(argv[i], "--first") == 0) first = atoi(argv[i + 1]);
    if (strcmp(argv[i], "--count") == 0) count = atoi(argv[i + 1]);
    if (strcmp(argv[i], "--out") == 0) out_path = argv[i + 1];
    if (strcmp(argv[i], "--child") == 0) child = std::wstring(argv[i + 1], argv[i + 1] + strlen(argv[i + 1]));
  }
  if (out_path == nullptr || count <= 0) {
    fprintf(stderr, "usage: download_campaign --seed S --first I --count N --out FILE\n");
    return 2;
  }
  g_out = fopen(out_path, "ab");
  if (g_out == nullptr) return 2;
  std::string error;
  const testsupport::TestServers* servers = testsupport::TestServers::Get(&error);
  if (servers == nullptr) {
    fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 2;
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  campaign::Campaign run(*servers, seed,
                         std::wstring(temp) + L"long-campaign-" + std::to_wstring(::GetCurrentProcessId()),
                         child);
  run.on_hang = [](const campaign::Plan& plan) {
    WriteLine("{\"hang\":" + std::to_string(plan.index) + ",\"path\":\"" + campaign::PathName(plan.path) +
              "\",\"fault\":\"" + plan.fault + "\"}");
    ::ExitProcess(3);
  };
  if (!run.Prepare()) {
    fprintf(stderr, "cannot put the source files into the document root\n");
    return 2;
  }
  campaign::Report report;
  for (int i = first; i < first + count; ++i) {
    WriteLine("{\"start\":" + std::to_string(i) + "}");
    campaign::Outcome outcome = run.Run(i);
    report.Add(outcome);
    WriteLine(outcome.Json());
  }
  size_t working_set = 0;
  size_t private_bytes = 0;
  campaign::PeakMemory(&working_set, &private_bytes);
  WriteLine("{\"memory\":{\"peak_working_set\":" + std::to_string(working_set) +
            ",\"peak_private\":" + std::to_string(private_bytes) + "}}");
  printf("%s", report.Table().c_str());
  ::CoUninitialize();
  fclose(g_out);
  return 0;
}
