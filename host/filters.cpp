/*
 * The filter table behind OSLoadLibrary (host/filters.h), and the test
 * control that adds filters of a test's own to it.
 */
#include "host/filters.h"

#include <strings.h>

#include <mutex>
#include <string>
#include <vector>

#include "host/host_internal.h"
#include "host/status.h"

#ifdef VELKO_TEST_CONTROLS
#include "host/host_testing.h"
#endif

namespace {

struct filter_library {
  const char* name;
  IMPORT_FILTER_PROC entry;
};

constexpr filter_library kFilterTable[] = {
    {"imgfilt", ImageImportFilter},
};

#ifdef VELKO_TEST_CONTROLS
struct test_filter {
  std::string name;
  IMPORT_FILTER_PROC entry;
};
std::mutex test_filters_mutex;
std::vector<test_filter>& TestFilters() {
  static std::vector<test_filter> filters;
  return filters;
}

IMPORT_FILTER_PROC FindTestFilter(const char* name, HMODULE* module) {
  std::lock_guard lock(test_filters_mutex);
  const std::vector<test_filter>& filters = TestFilters();
  for (size_t i = 0; i < filters.size(); ++i) {
    if (strcasecmp(filters[i].name.c_str(), name) == 0) {
      *module = static_cast<HMODULE>(std::size(kFilterTable) + i + 1);
      return filters[i].entry;
    }
  }
  return nullptr;
}
#endif

} // namespace

extern "C" STATUS OSLoadLibrary(const char* libraryName, DWORD /*flags*/, HMODULE* retModule,
                                IMPORT_FILTER_PROC* retEntryPoint) {
  if (libraryName == nullptr || retModule == nullptr || retEntryPoint == nullptr)
    return ERR_HOST_BAD_ARGUMENT;
  *retModule = 0;
  *retEntryPoint = nullptr;
#ifdef VELKO_TEST_CONTROLS
  // A test's own filter of the name stands in front of the table's.
  if (IMPORT_FILTER_PROC entry = FindTestFilter(libraryName, retModule); entry != nullptr) {
    *retEntryPoint = entry;
    return NOERROR;
  }
#endif
  for (size_t i = 0; i < std::size(kFilterTable); ++i) {
    if (strcasecmp(kFilterTable[i].name, libraryName) == 0) {
      *retModule = static_cast<HMODULE>(i + 1);
      *retEntryPoint = kFilterTable[i].entry;
      return NOERROR;
    }
  }
  return ERR_FILTER_NO_LIBRARY;
}

/* ---- test controls (host/host_testing.h); left out of the shipped library ---- */

#ifdef VELKO_TEST_CONTROLS

void HostTestSetImportFilter(const char* name, IMPORT_FILTER_PROC entry) {
  if (name == nullptr)
    return;
  std::lock_guard lock(test_filters_mutex);
  std::vector<test_filter>& filters = TestFilters();
  std::erase_if(filters,
                [&](const test_filter &f) { return strcasecmp(f.name.c_str(), name) == 0; });
  if (entry != nullptr)
    filters.push_back({name, entry});
}

void velko::host::ResetFiltersForTests() {
  std::lock_guard lock(test_filters_mutex);
  TestFilters().clear();
}

#endif
