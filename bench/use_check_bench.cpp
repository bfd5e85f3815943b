// The check at the moment of use, as the install worker makes it: a file is
// opened against writers and hashed against its signed .meta (beside it).
//   use_check_bench FILE PUBLIC_KEY.der
// Prints the outcome (0: verified) and exits 0 only when the file verified.
// Timed from outside: this program does nothing else.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "base/unique_handle.h"
#include "utils/held_file.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    fputs("usage: use_check_bench FILE PUBLIC_KEY.der\n", stderr);
    return 2;
  }
  std::ifstream in(argv[2], std::ios::binary);
  const std::vector<unsigned char> der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const stubframework::trust::ReleaseKey key{der.data(), der.size()};
  stubframework::base::UniqueHandle held;
  const auto check = stubframework::utils::HoldVerifiedFile(key, argv[1], &held);
  printf("%d\n", static_cast<int>(check));
  return check == stubframework::utils::UseCheck::kVerified ? 0 : 1;
}
