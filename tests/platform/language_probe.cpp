// Says by its exit status whether the window layer takes the user's
// language to be Japanese (1) or not (0), as the environment it was started
// with says.
#include "platform/winuser.h"

int main() { return UserLanguageIsJapanese() ? 1 : 0; }
