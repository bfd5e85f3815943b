// "Resumable": every file block-verified and resumable; "Simple": every file
// a plain download; "ResumableSimple": each file as its isResumeDownload
// says, resumable when it says nothing.
var Feature_DownloadMode = "ResumableSimple";
// Addresses go through the address-signing service first.
var Feature_IsSecureDownload = true;
// Check the CRC of files whose list entry gives one.
var Feature_IsCrcCheck = false;
var Feature_BillboardInterval = 7000;
