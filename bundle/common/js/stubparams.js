// Facts about this stub and the addresses it reports to. Fields of `url`
// and `GApage` are names in angle brackets (see fillTemplate in common.js).
var stubParams = {
  isDVD: false,
  // Desktop shortcut that continues an interrupted installation.
  shortcut: Product.name + " Setup.lnk"
};

var UrlParams = {
  url: "https://go.brelvo.example/redirect?app=<app>&version=<version>&pid=<productID>&vid=<versionID>&platform=<platformID>&type=<installType>&lang=<lang>&failedAt=<failedAt>",
  app: "Tessary",
  version: "22.0",
  productID: "1187",
  pIDStub: "1188",
  versionID: "2200",
  platformIDx64: "64",
  platformIDx86: "32",
  installType: "web",
  failedAt: "",
  GAid: "TS-22-WEB",
  GAhost: "setup.tessary.brelvo.example",
  GApage: "v=1&tid=<GAid>&cid=<cid>&t=pageview&dh=<GAhost>&dp=<page>&cd1=<channel>&cd2=<lang>&cd3=<result>&cm1=<downloadTime>"
};

// The installed product: the value `regkey` under `regpath` holds its folder.
var AppParams = {
  regpath: "HKEY_LOCAL_MACHINE\\SOFTWARE\\Brelvo\\Tessary\\22.0",
  regkey: "InstallPath"
};
