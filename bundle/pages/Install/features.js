// Installation folder offered first, under the system drive's program files.
var Feature_DefaultInstallFolder = "C:\\Program Files\\Brelvo\\Tessary 22";
