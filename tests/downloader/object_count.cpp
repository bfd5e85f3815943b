#include "object_count.h"

#include <windows.h>

#include "downloader/object.h"

namespace downloader = stubframework::downloader;

namespace stubframework::downloader::details {
namespace {
// Interlocked: the count is test instrumentation, touched from every thread.
volatile LONG g_live = 0;
}  // namespace

void CountObject(int delta) { ::InterlockedExchangeAdd(&g_live, delta); }

long LiveObjects() { return ::InterlockedCompareExchange(&g_live, 0, 0); }

}  // namespace stubframework::downloader::details
