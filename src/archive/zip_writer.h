// Adds files to a ZIP archive, one at a time (the run log's "log.zip").
#pragma once

#include <string>

namespace stubframework::archive {

// Adds the file as an entry named by its bare file name (ANSI code page),
// deflated at level 9, to the archive, which is created when it does not exist.
// A newly created archive is removed again when adding fails; an existing one
// is put back as it was.
bool AddFileToArchive(const std::wstring& archive_path, const std::wstring& file_path);

}  // namespace stubframework::archive
