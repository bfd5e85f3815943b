// Chooses the language, checks the system and prepares what the download
// needs, then moves on.

var Initialization = {
  // The language of this run: the user's earlier choice, else the order of
  // Feature_DefaultLanguageOrder.
  chooseLanguage: function () {
    var offered = Lang.offered();
    var chosen = getProp("selected_lang");
    if ($.inArray(chosen, offered) >= 0) return chosen;
    if (Feature_DefaultLanguageOrder === "OSLang") {
      var system = appExternal.getOSLang();
      for (var i = 0; i < offered.length; i++) {
        if (Lang.idOf(offered[i]) === system) return offered[i];
      }
    }
    return "en";
  },

  // The minimum-system flags that block this setup ("|" separated, empty
  // when nothing is lacking). Every flag found also becomes a property.
  blockingFlags: function () {
    var flags = String(appExternal.CheckMinSys()).split("|");
    var blocking = [];
    for (var i = 0; i < flags.length; i++) {
      if (flags[i] === "") continue;
      setProp(flags[i], "true");
      if ($.inArray(flags[i], Config_MinSys) >= 0) blocking.push(flags[i]);
    }
    setProp("isLowRes", boolText(appExternal.isLowRes() === true));
    return blocking.join("|");
  },

  // A system this product cannot run on at all, as a result code (0: none).
  systemError: function () {
    if (appExternal.isWindows7GM()) return Config_ErrorHandle.Win7GM;
    if (appExternal.isWindows8GM()) return Config_ErrorHandle.Win8GM;
    if (appExternal.isIE8()) return Config_ErrorHandle.IE8;
    return Config_ErrorHandle.NoError;
  },

  is64: function () {
    if (Config_OSArchitectureSelection === "Disable") return false;
    var chosen = getProp("isDownload64");
    if (Config_OSArchitectureSelection === "UserOption" && chosen !== "") return isTrue(chosen) && getProp("osbits") === "64";
    return getProp("osbits") === "64";
  },

  // Download folder: the one chosen before, else the product's folder in the
  // user's temporary folder.
  downloadFolder: function () {
    var folder = getProp("downloadPath");
    if (isSafeFolder(folder)) return folder;
    return String(appExternal.getTempPath("")).replace(/\\+$/, "");
  },

  run: function () {
    var code = Initialization.chooseLanguage();
    Lang.use(code);
    Lang.apply();

    var error = Initialization.systemError();
    if (error !== Config_ErrorHandle.NoError) {
      appExternal.setInstallStatus(Config_Status.ENVIRONMENT_NOT_MEET | 0);
      Navigator.showError(error);
      return;
    }
    setProp("minSysFailed", Initialization.blockingFlags());
    if (appExternal.isRequireReboot()) {
      setProp("restartReason", "pending");
      Navigator.goRestartPage();
      return;
    }

    var is64 = Initialization.is64();
    setProp("isDownload64", boolText(is64));
    setProp("downloadUrl", ComponentList.downloadUrl(is64, code));
    setProp("isExtractInDownload", boolText(Config_ExtractInDownload));
    if (getProp("isDownloadOnly") === "") setProp("isDownloadOnly", "false");
    setProp("isISO", boolText(stubParams.isDVD));
    setProp("downloadPath", Initialization.downloadFolder());

    if (!Config_MultiDownload) {
      Navigator.nextPage();
      return;
    }
    // The component list replaces config\installerlist.js; the next pages load it.
    // A refresh that fails (or whose list is not signed) leaves the bundle's
    // own list in force, and the flow goes on with it.
    var target = appExternal.getResourceLocation() + "config\\installerlist.js";
    appExternal.updateInstallerList(getProp("downloadUrl"), target, false, false, function (result) {
      if (result === Config_ErrorHandle.Running) return;
      Navigator.nextPage();
    });
  }
};

$(function () {
  Page.init();
  $("#btn-cancel").on("click", function () {
    Page.cancelRun();
  });
  // Let the page draw before the checks, which take a moment.
  window.setTimeout(Initialization.run, 30);
});
