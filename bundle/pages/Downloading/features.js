// "Resumable": every file block-verified and resumable; "Simple": every file
// a plain download; "ResumableSimple": each file as its isResumeDownload
// says, resumable when it says nothing.
var Feature_DownloadMode = "ResumableSimple";
// Addresses go through the address-signing service first.
var Feature_IsSecureDownload = true;
// Check the CRC of files whose list entry gives one.
var Feature_IsCrcCheck = false;
var Feature_BillboardInterval = 7000;
// Connections a block-verified download opens at once (1 to 16), spread over
// the file's URL and the `mirrors` its list entry names. 1: one request at a
// time, as without mirrors.
var Feature_DownloadConnections = 1;
