// Global configuration of the setup pages. The native side never reads this
// file; the pages do, and the numbers that cross to the native side
// (result codes, resume modes, install states) must match it.

// Page order. Initialization must be present.
var Config_SequencePages = ["Initialization", "MinSys", "Downloading", "Installing"];

// true: DOWNLOAD_URL names a component-list script to fetch first;
// false: it names the package itself.
var Config_MultiDownload = false;

var Config_ShowAgreement = false;

// "Disable": always the 32-bit package; "Force": the package follows the
// system's bitness; "UserOption": 64-bit on a 64-bit system unless the user
// picks 32-bit.
var Config_OSArchitectureSelection = "UserOption";

// true: a failed component stops the setup and is reported; false: the
// setup goes on with the next component.
var Config_Essential = true;

var Config_SupportSelfUpdate = false;

// Extract ZIP packages while downloading.
var Config_ExtractInDownload = true;

// "Disable", "ForceHidden", "ForceShow" or "UserOption".
var Config_PatchOption = "Disable";

// Minimum-system flags that block the installation.
var Config_MinSys = ["LOWRES", "LOWMEM", "IELT11", "WIN8"];

var Config_Steps = {
  NotStart: 0,
  Download: 1,
  Extract: 2,
  Install: 3
};

// Result codes of the native workers.
var Config_ErrorHandle = {
  NoError: 0,
  UnknowError: 1,
  FileNotExist: 2,
  DiskFull: 3,
  Failure: 4,
  Abort: 5,
  Md5Error: 6,
  VolumeReadOnly: 7,
  NoNetwork: 8,
  Cancelled: 9,
  Running: 10,
  Reboot: 11,
  HaveInstalled: 12,
  Win7GM: 13,
  IE8: 14,
  Error1638: 15,
  Error30500: 16,
  Error30508: 17,
  Error30509: 18,
  Error20000: 19,
  Win8GM: 20,
  Win10Required: 30
};

// Report code per result, shown on the error page and sent with reports
// (property IM_ErrorCode).
var Config_ErrorCodeURL = {
  NoError: "0",
  UnknowError: "30100",
  FileNotExist: "30101",
  DiskFull: "30102",
  Failure: "30103",
  Abort: "30104",
  Md5Error: "30105",
  VolumeReadOnly: "30106",
  NoNetwork: "30107",
  Cancelled: "30108",
  Running: "30109",
  Reboot: "30110",
  HaveInstalled: "30111",
  Win7GM: "30112",
  IE8: "30113",
  Error1638: "1638",
  Error30500: "30500",
  Error30508: "30508",
  Error30509: "30509",
  Error20000: "20000",
  Win8GM: "30114",
  Win10Required: "30115"
};

// Values of getResumeMode.
var Config_ResumeMode = {
  NONE: 0,
  DOWNLOADING: 1,
  INSTALLING: 2
};

// Registry value names of the resume record.
var Config_RegRecorder = {
  OS: "_OS_",
  IsISO: "_IsISO_",
  Lang: "_Lang_",
  Directory: "_Directory_",
  Components: "_Components_",
  IsDownloadOnly: "_IsDownloadOnly_",
  DownloadUrl: "_DownloadUrl_",
  DownloadSize: "_DownloadSize_",
  ExtractInDownload: "__Extract_In_Download__"
};

var Config_ProgressItem = {
  LastProcess: 0,
  CurrentProcess: 0,
  TotalProcess: 1
};

// Component flags, combined with a bitwise or.
var ComponentType = {
  Inherit: 0,
  X86: 1,
  X64: 2,
  Selectable: 4,
  MustSelect: 8,
  Patch: 16,
  Prerequiste: 32 // spelled so on purpose: publishers' component lists use this name
};

var Config_PostInstallActionType = {
  APP: 0,
  URL: 1,
  CMD: 2
};

// Run after a successful install. The parameter is the registry data when
// there is any, else `data`; an empty parameter runs nothing.
var Config_PostInstallActions = [
  {
    type: Config_PostInstallActionType.APP,
    reg: { key: "HKEY_LOCAL_MACHINE\\SOFTWARE\\Brelvo\\Setup\\StubFrameWork", value: "RunAPP" },
    data: ""
  },
  {
    type: Config_PostInstallActionType.URL,
    reg: { key: "HKEY_LOCAL_MACHINE\\SOFTWARE\\Brelvo\\Setup\\StubFrameWork", value: "OpenURL" },
    data: ""
  },
  {
    type: Config_PostInstallActionType.CMD,
    reg: { key: "HKEY_LOCAL_MACHINE\\SOFTWARE\\Brelvo\\Setup\\StubFrameWork", value: "ExecuteCMD" },
    data: ""
  }
];

// The single package of a download that is not a component list: estimated
// install seconds and the registry value whose presence means it is installed.
var Config_SingleDownload = {
  estimatedTime: 180,
  registry: { key: "", value: "" }
};

// Prerequisite components added to a single-package download.
// The name is spelled as publishers' pages have it (Prerequiste), on purpose.
var Config_PrerequisteComponents = [];

// Final states passed to setInstallStatus.
var Config_Status = {
  NOTSTART: 0,
  COMPLETED: 1,
  ERROR: 2,
  CANCEL: 3,
  ENVIRONMENT_NOT_MEET: 4,
  DOWNLOADED: 5,
  STUB_FAILED: 6
};

// Language code to the code in the names of the agreement documents.
var Config_LanguageMapping = {
  pt: "br",
  cs: "cz",
  zh: "cs",
  tw: "ct"
};

// Language code to the language code that web addresses use.
var Config_UrlLanguageMapping = {
  zh: "zh-Hans",
  tw: "zh-Hant",
  jp: "ja"
};
