// Why this run was started: fresh, or to resume a download or an install
// that a restart interrupted (the RunOnce entry's "RESUME=" argument).
#pragma once

namespace stubframework::workflow {

enum ResumeMode : int { kResumeNone = 0, kResumeDownloading = 1, kResumeInstalling = 2 };

}  // namespace stubframework::workflow
