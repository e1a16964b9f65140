// Linked into every test program: unless the runner chose otherwise, the
// user's configuration and data folders point into the build tree, so
// whatever a test saves (a profile, the recent documents, a password) never lands in
// the home of whoever runs the tests.
#include <cstdlib>

namespace {

const bool g_testHome = [] {
  ::setenv("XDG_CONFIG_HOME", VELMORA_TEST_HOME "/config", 0);
  ::setenv("XDG_DATA_HOME", VELMORA_TEST_HOME "/data", 0);
  // Secrets go to a file there too, and no test waits on a desktop keychain.
  ::setenv("VELMORA_SECRETS", "file", 1);
  return true;
}();

}  // namespace
