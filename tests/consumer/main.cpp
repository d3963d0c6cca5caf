// Creates and deletes a session through the installed headers and library.
#include <velko/velko.h>

#include <cstdio>

int main() {
  auto* session = new LSXLsiSession();
  session->InitializeTempDirectory();
  auto* item = new VelkoRTItem(session);
  (void)item;  // the session deletes it
  delete session;
  std::puts("consumer: session created and deleted");
  return 0;
}
