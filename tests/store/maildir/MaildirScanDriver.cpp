// Runs one real scan over a Maildir, for the tests that write and read the store with other
// programs. Usage: pairsweep_maildir_scan <maildir> <action 0|1|2> [<export directory>]
// Prints the scan's result on standard output.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "scan/Disposal.h"
#include "store/maildir/MaildirServer.h"
#include "tests/support/TestHost.h"

int main(int argc, char** argv) {
  using namespace pairsweep;
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: %s <maildir> <action> [<export directory>]\n", argv[0]);
    return 2;
  }
  store::TRegistration registration = store::maildir::RegisterMaildirServer(argv[1]);
  std::u16string directory;
  if (argc == 4) {
    for (const char* p = argv[3]; *p; ++p) directory += static_cast<char16_t>(*p);  // ASCII paths
  }
  testing::TTestHost host;
  const auto action = static_cast<scan::TDuplicateAction>(std::atoi(argv[2]));
  std::printf("%d\n", static_cast<int>(host.ScanStore(action, directory)));
  return 0;
}
