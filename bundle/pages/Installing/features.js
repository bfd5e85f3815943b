var Feature_BillboardInterval = 7000;
// Windows Installer packages get the chosen folder as this property.
var Feature_InstallDirProperty = "INSTALLDIR";
