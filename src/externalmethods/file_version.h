// Version texts read from files: a Windows Installer package's ProductVersion
// and an executable's fixed file version. Empty text when a step fails.
#pragma once

#include <string>

namespace stubframework::externalmethods {

// The ProductVersion row of the package's Property table, read-only; longer
// than 255 characters counts as a failure.
std::wstring PackageProductVersion(const std::wstring& package);

// "major.minor.build.revision" of the version resource's fixed part.
std::wstring ExecutableFileVersion(const std::wstring& executable);

}  // namespace stubframework::externalmethods
