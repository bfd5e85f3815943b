// Whether this start resumes a download or an install after a restart.
#pragma once

#include <string>
#include <vector>

namespace stubframework {

enum ResumeMode : int {
  kResumeNone = 0,
  kResumeDownloading = 1,
  kResumeInstalling = 2,
};

// The first whole argument equal to "RESUME=DOWNLOADING" or
// "RESUME=INSTALLING" (case ignored) decides; `args` excludes the program name.
int ResumeModeOfArguments(const std::vector<std::wstring>& args);
// The same for this process's command line.
int ResumeModeOfCommandLine();

}  // namespace stubframework
