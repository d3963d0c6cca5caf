// Creates a session and reads rendering-style options from a property
// string given on the command line, the way every velko operation reads its
// options.
//
//   session_options "Width=5in Title='Quarterly report' Border=Yes indent"
#include <velko/property_string.h>
#include <velko/velko.h>

#include <cstdio>
#include <initializer_list>

int main(int argc, char** argv) {
  const char* options = argc > 1 ? argv[1] : "Width=5in Title='Quarterly report' Border=Yes indent";
  auto* session = new LSXLsiSession();
  session->InitializeTempDirectory();

  std::printf("options: %s\n", options);
  char* value = session->scratch_first;
  for (const char* key : {"Width=", "Title=", "Border=", "Height="}) {
    if (ExtractProperty(options, key, value, sizeof session->scratch_first))
      std::printf("  %-8s '%s'\n", key, value);
    else
      std::printf("  %-8s (absent)\n", key);
  }
  BOOL border = ExtractPropertyBOOL(options, "Border=", value, sizeof session->scratch_first, 0);
  std::printf("  border on: %s\n", border ? "yes" : "no");
  std::printf("  flag indent: %s\n", ExtractFlag(options, "indent") ? "set" : "not set");

  delete session;
  return 0;
}
