// The validator of a partial download (its ETag, else its Last-Modified),
// kept in a small file beside it so that a later process resumes with
// If-Range and a file changed on the server in between starts again at 0.
#pragma once

#include <string>

namespace stubframework::downloader {

// Longest validator kept or sent; a longer one is not used.
inline constexpr size_t kMaxValidatorLength = 200;

// What If-Range may carry: a strong ETag (a weak one never matches a range),
// else the Last-Modified date; empty when neither is usable.
std::string ChooseValidator(const std::string& etag, const std::string& last_modified);

// Printable ASCII without line breaks, 1 to kMaxValidatorLength characters:
// the side file lives in a folder others may write, and its text becomes a
// request header.
bool IsUsableValidator(const std::string& text);

// "<path>.validator".
std::wstring ValidatorPathFor(const std::wstring& path);

// The kept validator of `path`; empty when there is none, it is not usable,
// or the side file is a link.
std::string ReadValidator(const std::wstring& path);

// Keeps `validator` beside `path`; never writes through a link. False when it
// could not be kept (the download goes on without it).
bool WriteValidator(const std::wstring& path, const std::string& validator);

// Removes the side file of a download that is whole (or starts anew).
void RemoveValidator(const std::wstring& path);

}  // namespace stubframework::downloader
