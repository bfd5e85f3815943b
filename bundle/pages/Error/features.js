// Results after which a desktop shortcut lets the user start the setup
// again later, where it left off.
var Feature_ContinueShortcutResults = [
  Config_ErrorHandle.NoNetwork,
  Config_ErrorHandle.Failure,
  Config_ErrorHandle.DiskFull,
  Config_ErrorHandle.UnknowError
];
