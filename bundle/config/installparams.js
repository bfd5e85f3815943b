// What this setup installs and where it finds it. DOWNLOAD_URL may hold
// ${lang} and ${osbits}; EXE_PARAMETERS may hold $LOGFILE$ and $STUBPATH$,
// which the installer step replaces, and ${name} for any page property.
var installParams = {
  key: "6f1c2a9e4b7d3e8a0c5f9b2d4e6a8c0b1d3f5a7e",
  stub_version: "22.0.0.0",
  VISIBLE_IN_WEB: "true",
  DOWNLOAD_URL: "https://download.brelvo.example/tessary/22.0/${lang}/Tessary-22.0-x${osbits}.msi",
  UPDATE_STUB_URL: "https://download.brelvo.example/tessary/22.0/TessarySetup.exe",
  CHNL: "web",
  PRODUCT_FILE_NAME: "Tessary-22.0.msi",
  TYP_URL: "https://www.brelvo.example/tessary/thank-you?lang=${lang}",
  EXE_PARAMETERS: "/qn REBOOT=ReallySuppress",
  EXE_NOTES: "Tessary 22",
  STUB: "TessarySetup.exe",
  LANG: ["en", "de", "fr", "es", "it", "pt", "nl", "pl", "cs", "ru", "tr", "jp", "zh", "tw"]
};
