// Components of a multi-component download (used when Config_MultiDownload
// is true; the setup then refreshes this list from DOWNLOAD_URL first).
// Sizes of 0 are learned before the download starts. `installDirProperty`
// names the Windows Installer property that gets the folder chosen on the
// Install page (nothing is added without it, or without a chosen folder).
var Components = [
  {
    group: 0,
    sku: "TESSARY-22",
    type: ComponentType.X64 | ComponentType.MustSelect,
    name: "Tessary",
    estimatedTime: 180,
    installDirProperty: "INSTALLDIR",
    registry: { key: "HKEY_LOCAL_MACHINE\\SOFTWARE\\Brelvo\\Tessary\\22.0", value: "InstallPath" },
    program: "Tessary.exe",
    files: [
      {
        name: "Tessary/Tessary-22.0-x64.msi",
        url: "https://download.brelvo.example/tessary/22.0/${lang}/Tessary-22.0-x64.msi",
        param: "/qn REBOOT=ReallySuppress",
        size: 0,
        installSize: 734003200,
        crc: ""
      }
    ]
  },
  {
    group: 0,
    sku: "TESSARY-22",
    type: ComponentType.X86 | ComponentType.MustSelect,
    name: "Tessary",
    estimatedTime: 180,
    installDirProperty: "INSTALLDIR",
    registry: { key: "HKEY_LOCAL_MACHINE\\SOFTWARE\\Brelvo\\Tessary\\22.0", value: "InstallPath" },
    program: "Tessary.exe",
    files: [
      {
        name: "Tessary/Tessary-22.0-x86.msi",
        url: "https://download.brelvo.example/tessary/22.0/${lang}/Tessary-22.0-x86.msi",
        param: "/qn REBOOT=ReallySuppress",
        size: 0,
        installSize: 629145600,
        crc: ""
      }
    ]
  },
  {
    group: 1,
    sku: "TESSARY-SAMPLES-22",
    type: ComponentType.Selectable,
    name: "TessarySamples",
    estimatedTime: 40,
    installDirProperty: "INSTALLDIR",
    registry: { key: "HKEY_LOCAL_MACHINE\\SOFTWARE\\Brelvo\\Tessary\\22.0\\Samples", value: "Version" },
    files: [
      {
        name: "Samples/Tessary-Samples-22.0.msi",
        url: "https://download.brelvo.example/tessary/22.0/Tessary-Samples-22.0.msi",
        param: "/qn",
        size: 0,
        installSize: 104857600,
        crc: "",
        isResumeDownload: true
      }
    ]
  }
];
